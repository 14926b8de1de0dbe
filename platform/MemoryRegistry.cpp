#include "platform/MemoryRegistry.h"

#include <QHash>

#include <utility>
#include <vector>

namespace qm {

namespace {

struct Node
{
    QString name;
    QHash<QString, RegistryValue> values; // by case-folded name
    std::vector<std::unique_ptr<Node>> children; // in the order they were made
    QHash<QString, Node *> childByName; // by case-folded name

    Node *child(const QString &childName) const
    {
        return childByName.value(childName.toCaseFolded(), nullptr);
    }

    Node *addChild(const QString &childName)
    {
        children.push_back(std::make_unique<Node>());
        Node *made = children.back().get();
        made->name = childName;
        childByName.insert(childName.toCaseFolded(), made);
        return made;
    }
};

QStringList pathNames(const QString &path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

} // namespace

struct MemoryRegistry::Data
{
    bool canCreate = true;
    Node root;

    // The key at `path`; made with its parents when `create`, else null when missing.
    Node *find(const QString &path, bool create)
    {
        Node *node = &root;
        for (const QString &name : pathNames(path)) {
            Node *next = node->child(name);
            if (!next) {
                if (!create)
                    return nullptr;
                next = node->addChild(name);
            }
            node = next;
        }
        return node;
    }
};

namespace {

// Keys stay in the tree for the registry's life, so a key opened earlier sees every later
// change; holding the data keeps its node alive past the registry itself.
class MemoryRegistryKey final : public RegistryKey
{
public:
    MemoryRegistryKey(std::shared_ptr<const void> owner, const Node *node)
        : m_owner(std::move(owner)), m_node(node)
    {
    }

    QString readString(const QString &name) const override
    {
        const auto found = m_node->values.constFind(name.toCaseFolded());
        if (found == m_node->values.cend())
            return QString();
        if (found->type != RegistryValue::Type::String
            && found->type != RegistryValue::Type::ExpandString) {
            throw RegistryError(
                QString(QStringLiteral("Invalid data type for '") + name + QLatin1Char('\''))
                    .toStdString());
        }
        // A reader of a text value gets the text up to its first NUL, as from any registry.
        const qsizetype nul = found->text.indexOf(QChar(0));
        return nul < 0 ? found->text : found->text.left(nul);
    }

    QStringList subkeyNames() const override
    {
        QStringList names;
        for (const auto &child : m_node->children)
            names.append(child->name);
        return names;
    }

private:
    std::shared_ptr<const void> m_owner;
    const Node *m_node;
};

} // namespace

MemoryRegistry::MemoryRegistry(bool canCreate)
    : m_data(std::make_shared<Data>())
{
    m_data->canCreate = canCreate;
}

void MemoryRegistry::setValue(const QString &keyPath, const QString &name,
                              const RegistryValue &value)
{
    m_data->find(keyPath, true)->values.insert(name.toCaseFolded(), value);
}

void MemoryRegistry::addKey(const QString &keyPath)
{
    m_data->find(keyPath, true);
}

bool MemoryRegistry::hasKey(const QString &keyPath) const
{
    return m_data->find(keyPath, false) != nullptr;
}

std::unique_ptr<RegistryKey> MemoryRegistry::openKey(const QString &path)
{
    Node *node = m_data->find(path, m_data->canCreate);
    if (!node)
        return nullptr;
    return std::make_unique<MemoryRegistryKey>(m_data, node);
}

} // namespace qm

#include "platform/wine/VdfReader.h"

namespace qm {

namespace {

class VdfParser final
{
public:
    explicit VdfParser(const QByteArray &text) : m_text(text) {}

    // The entries up to the end of the text (depth 0) or up to the closing brace of a block.
    bool block(int depth, std::vector<VdfEntry> &entries)
    {
        for (;;) {
            QByteArray key;
            switch (next(key)) {
            case Token::End:
                return depth == 0;
            case Token::Close:
                return depth > 0;
            case Token::Open:
            case Token::Bad:
                return false;
            case Token::Word:
                break;
            }
            VdfEntry entry;
            entry.key = QString::fromUtf8(key);
            QByteArray value;
            switch (next(value)) {
            case Token::Open:
                if (depth + 1 > VdfMaxDepth)
                    return false;
                entry.isBlock = true;
                if (!block(depth + 1, entry.entries))
                    return false;
                break;
            case Token::Word:
                entry.text = QString::fromUtf8(value);
                break;
            case Token::End:
            case Token::Close:
            case Token::Bad:
                return false;
            }
            entries.push_back(std::move(entry));
        }
    }

private:
    enum class Token { End, Open, Close, Word, Bad };

    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

    // The next token, past blanks, comments and platform conditions.
    Token next(QByteArray &word)
    {
        const qsizetype size = m_text.size();
        for (;;) {
            while (m_pos < size && isBlank(m_text.at(m_pos)))
                ++m_pos;
            if (m_pos >= size)
                return Token::End;
            const char c = m_text.at(m_pos);
            if (c == '/' && m_pos + 1 < size && m_text.at(m_pos + 1) == '/') {
                const qsizetype end = m_text.indexOf('\n', m_pos);
                m_pos = end < 0 ? size : end + 1;
                continue;
            }
            if (c == '[') {
                const qsizetype end = m_text.indexOf(']', m_pos);
                if (end < 0)
                    return Token::Bad;
                m_pos = end + 1;
                continue;
            }
            break;
        }
        const char c = m_text.at(m_pos);
        if (c == '{') {
            ++m_pos;
            return Token::Open;
        }
        if (c == '}') {
            ++m_pos;
            return Token::Close;
        }
        word.clear();
        if (c == '"') {
            ++m_pos;
            while (m_pos < size) {
                const char d = m_text.at(m_pos++);
                if (d == '"')
                    return Token::Word;
                if (d == '\\' && m_pos < size) {
                    const char e = m_text.at(m_pos);
                    if (e == '\\' || e == '"') {
                        word += e;
                        ++m_pos;
                        continue;
                    }
                    if (e == 'n' || e == 't') {
                        word += e == 'n' ? '\n' : '\t';
                        ++m_pos;
                        continue;
                    }
                }
                word += d;
            }
            return Token::Bad; // the text ends inside the string
        }
        while (m_pos < size) {
            const char d = m_text.at(m_pos);
            if (isBlank(d) || d == '{' || d == '}' || d == '"')
                break;
            word += d;
            ++m_pos;
        }
        return Token::Word;
    }

    const QByteArray &m_text;
    qsizetype m_pos = 0;
};

} // namespace

const VdfEntry *VdfEntry::find(const QString &wanted) const
{
    for (const VdfEntry &entry : entries) {
        if (entry.key.compare(wanted, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

std::optional<std::vector<VdfEntry>> parseVdf(const QByteArray &text)
{
    std::vector<VdfEntry> entries;
    VdfParser parser(text);
    if (!parser.block(0, entries))
        return std::nullopt;
    return entries;
}

} // namespace qm

#pragma once

#include <QString>
#include <QStringList>

// Where the game lives on the internet, named once for the whole program.
namespace GameSite {

// The game's web host; the recovery pages lie below it.
inline const QString WebHost = QStringLiteral("www.quenmaronline.com");
// Where password recovery requests are mailed.
inline const QString SupportMail = QStringLiteral("support@quenmaronline.com");
// Well-known sites that answer echo requests, tried in this order to tell whether the
// internet can be reached at all.
inline const QStringList PublicHosts = {QStringLiteral("www.google.com"), QStringLiteral("one.one.one.one")};

} // namespace GameSite

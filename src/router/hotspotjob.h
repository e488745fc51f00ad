#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One hotspot server profile as the router lists it.
struct HotspotProfile
{
    QString name;
    QString dir;      // html-directory
    QString override; // html-directory-override
    QString dns;      // dns-name
};

// The read-only script that lists every hotspot profile with its folders and DNS name.
[[nodiscard]] QString hotspotListingScript();

// The profiles that the listing's marker lines describe, in the router's order.
[[nodiscard]] QList<HotspotProfile> parseHotspotProfiles(const QString &output);

// The profile names that the router's hotspot servers use, one per server, in the router's order.
[[nodiscard]] QStringList parseHotspotServerProfiles(const QString &output);

// The profile whose pages the login page replaces, among those a hotspot server uses: ours, else
// the first one customers reach by a DNS name, else the first. False, with *chosen untouched, when
// no server uses any of the profiles.
[[nodiscard]] bool chooseHotspotProfile(const QList<HotspotProfile> &profiles,
                                        const QStringList &serverProfiles, HotspotProfile *chosen);

// The folder the profile serves its pages from, written the way /tool fetch takes it; not yet
// checked.
[[nodiscard]] QString hotspotFolder(const HotspotProfile &profile);

// Whether a folder from hotspotFolder is safe to hand to the router as a download target.
[[nodiscard]] bool isReplaceableHotspotFolder(const QString &folder);

// Where login.html goes on the router, or an empty string when the profile's folder is refused.
// *folderOut (when not null) receives the folder that was judged, refused or not.
[[nodiscard]] QString hotspotDestination(const HotspotProfile &profile,
                                         QString *folderOut = nullptr);

// The script that makes the router download the page to the destination.
[[nodiscard]] QString hotspotFetchScript(const QString &loginPageUrl, const QString &destination);

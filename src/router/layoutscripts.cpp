#include "layoutscripts.h"

#include "routeros.h"
#include "validation.h"

namespace {

const char kDefaultHotspotDns[] = "hotspot.quillmor.com";
// From the documentation range, so that no real host is ever blocked by accident.
const char kBlockedVpnServer[] = "198.51.100.23";

// Each wrapped on its own, so that one refused command (a missing ether5, an existing bridge)
// does not stop the rest of the layout.
const char *const kLayoutCommands[] = {
    "/ip hotspot remove [find]",
    "/interface pppoe-server server remove [find]",
    "/ip dhcp-server remove [find]",
    "/ip dhcp-server network remove [find]",
    "/ip pool remove [find]",
    // The link is already on the router and a DHCP lease is not ours to remove.
    "/ip address remove [find where !dynamic and comment!=\"quillmor-onboard\"]",
    "/interface bridge port remove [find interface=ether1]",
    "/interface bridge port remove [find interface=ether2]",
    "/interface bridge port remove [find interface=ether3]",
    "/interface bridge port remove [find interface=ether4]",
    "/interface bridge port remove [find interface=ether5]",
    "/interface ethernet set [find default-name=ether1] name=ether1-WAN",
    "/interface bridge add name=Bridge-Network",
    "/interface bridge port add bridge=Bridge-Network interface=ether2",
    "/interface bridge port add bridge=Bridge-Network interface=ether3",
    "/interface bridge port add bridge=Bridge-Network interface=ether4",
    "/interface bridge port add bridge=Bridge-Network interface=ether5",
    "/ip dhcp-client remove [find interface=ether1]",
    "/ip dhcp-client remove [find interface=ether1-WAN]",
    "/ip dhcp-client add interface=ether1-WAN disabled=no add-default-route=yes use-peer-dns=no "
    "use-peer-ntp=no",
    "/ip pool add name=hotspot-pool ranges=172.16.0.2-172.16.255.254",
    "/ip pool add name=pppoe-pool ranges=176.16.0.2-176.16.255.254",
    "/ip pool add name=Expiry-Pool ranges=18.18.18.2-18.18.18.254",
    "/ip address add address=172.16.0.1/16 comment=HOTSPOT interface=Bridge-Network "
    "network=172.16.0.0",
    "/ip dhcp-server add address-pool=hotspot-pool interface=Bridge-Network name=dhcp1",
    "/ip dhcp-server network add address=172.16.0.0/16 gateway=172.16.0.1",
    "/ip hotspot profile add dns-name=%1 hotspot-address=172.16.0.1 "
    "login-by=\"cookie,http-pap,mac-cookie\" name=quillmor-server",
    "/ip hotspot add address-pool=hotspot-pool addresses-per-mac=1 disabled=no idle-timeout=4w2d "
    "interface=Bridge-Network keepalive-timeout=4w2d login-timeout=5m name=quillmor "
    "profile=quillmor-server",
    "/ppp profile add local-address=18.18.18.1 name=Expiry-Profile rate-limit=1k/1k "
    "remote-address=Expiry-Pool",
    "/interface pppoe-server server add disabled=no interface=Bridge-Network "
    "one-session-per-host=yes service-name=PPPoE_Server",
    "/ip dns set cache-max-ttl=7d cache-size=4096 servers=8.8.8.8,8.8.4.4",
    "/ip firewall nat add chain=srcnat out-interface=ether1-WAN action=masquerade comment=HOTSPOT",
    "/ip service set ftp disabled=yes",
    "/ip service set telnet disabled=yes",
    "/ip service set ssh port=22 disabled=no",
    "/ip service set www port=1042 disabled=no",
    "/ip service set winbox port=8291 disabled=no",
    "/ip service set api-ssl disabled=yes",
    "/ip service set api disabled=no port=8777",
    "/system clock set time-zone-name=Africa/Nairobi",
};

// The only failure markers of the layout: without these two objects the router is unreachable
// the way the operator was told it would be.
const char *const kLayoutChecks[] = {
    ":if ([:len [/interface find name=\"ether1-WAN\"]] = 0) do={ :put \"QM_FAIL=wan\" }",
    ":if ([:len [/ip address find address=\"172.16.0.1/16\"]] = 0) do={ :put \"QM_FAIL=address\" }",
    ":put \"QM_DONE=1\"",
};

const char *const kSharedRules[] = {
    "/ip firewall address-list add list=blocked-vpn-servers address=%1 "
    "comment=\"quillmor-onboard\"",
    "/ip firewall filter add chain=forward dst-address-list=blocked-vpn-servers action=drop "
    "comment=\"quillmor-onboard\"",
    "/ip firewall raw add chain=prerouting dst-address-list=blocked-vpn-servers action=drop "
    "comment=\"quillmor-onboard\"",
    "/ip firewall filter add chain=forward action=drop src-address-list=Disconnected "
    "comment=\"quillmor-onboard\"",
    "/ip firewall filter add chain=hs-input action=drop protocol=udp dst-port=53 hotspot=!auth "
    "comment=\"quillmor-onboard\"",
    "/ip firewall filter add chain=hs-input action=drop protocol=tcp dst-port=53 hotspot=!auth "
    "comment=\"quillmor-onboard\"",
    "/ip firewall filter add chain=pre-hs-input hotspot=!auth connection-limit=20,32 action=drop "
    "comment=\"quillmor-onboard\"",
    "/system clock set time-zone-name=Africa/Nairobi",
};

const char kWalledGardenHead[] = ":do { /ip hotspot walled-garden ip add action=accept dst-host=";
const char kWalledGardenTail[] = " comment=\"quillmor-onboard\" } on-error={}; ";
const char kDone[] = ":put \"QM_DONE=1\"";

QString wrapped(const QString &command)
{
    return QStringLiteral(":do { ") + command + QStringLiteral(" } on-error={}");
}

} // namespace

QString defaultHotspotDnsName()
{
    return QString::fromLatin1(kDefaultHotspotDns);
}

QString blockedVpnServerAddress()
{
    return QString::fromLatin1(kBlockedVpnServer);
}

QString buildBaseLayoutScript(const QString &hotspotDns)
{
    const QString dnsName = isValidHostName(hotspotDns) ? hotspotDns : defaultHotspotDnsName();
    QStringList statements;
    for (const char *command : kLayoutCommands) {
        QString text = QString::fromUtf8(command);
        // Only the profile statement holds a placeholder; arg() would also touch other '%'.
        text.replace(QLatin1String("%1"), quoteRouterOs(dnsName));
        statements << wrapped(text);
    }
    for (const char *check : kLayoutChecks)
        statements << QString::fromUtf8(check);
    return statements.join(QLatin1String("; "));
}

QString buildSharedRulesScript(const QStringList &hosts)
{
    QString script;
    for (const char *rule : kSharedRules) {
        QString text = QString::fromUtf8(rule);
        text.replace(QLatin1String("%1"), blockedVpnServerAddress());
        script += wrapped(text) + QLatin1String("; ");
    }
    for (const QString &host : hosts) {
        if (!isValidHostName(host))
            continue;
        script += QString::fromUtf8(kWalledGardenHead) + quoteRouterOs(host) +
                  QString::fromUtf8(kWalledGardenTail);
    }
    script += QString::fromUtf8(kDone);
    return script;
}

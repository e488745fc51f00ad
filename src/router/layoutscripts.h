#pragma once

#include <QString>
#include <QStringList>

// The hotspot DNS name a router gets when the account has none that can go into a script.
[[nodiscard]] QString defaultHotspotDnsName();

// The one public address that onboarded routers refuse to forward to.
[[nodiscard]] QString blockedVpnServerAddress();

// The destructive standard layout: Bridge-Network at 172.16.0.1 with hotspot, pools, DHCP, PPPoE
// server, DNS, NAT and services, port 1 as ether1-WAN. It spares the Quillmor link's objects, so it
// can follow the link. One line; fails only through its two final checks.
[[nodiscard]] QString buildBaseLayoutScript(const QString &hotspotDns);

// The shared firewall rules and one walled-garden entry per valid host, in order.
[[nodiscard]] QString buildSharedRulesScript(const QStringList &hosts);

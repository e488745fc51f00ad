# 2025-02-02 17:40:11 by RouterOS 7.14.3
# software id = 9MZT-R2KD
#
# model = RB750Gr3
# serial number = HGC09A1B2C4
/interface bridge
add name=bridge-lan
/interface list
add name=WAN
add name=LAN
/ip hotspot profile
add dns-name=login.example-isp.net hotspot-address=10.5.0.1 html-directory=\
    flash/hotspot login-by=cookie,http-chap name=hsprof1
/ip pool
add name=hs-pool ranges=10.5.0.10-10.5.3.254
add name=pppoe-pool ranges=10.6.0.2-10.6.0.254
/ip dhcp-server
add address-pool=hs-pool interface=bridge-lan lease-time=1h name=dhcp1
/ip hotspot
add address-pool=hs-pool disabled=no interface=bridge-lan name=hotspot1 \
    profile=hsprof1
/ppp profile
add local-address=10.6.0.1 name=pppoe-profile remote-address=pppoe-pool
/interface bridge port
add bridge=bridge-lan interface=ether2
add bridge=bridge-lan interface=ether3
/interface pppoe-server server
add default-profile=pppoe-profile disabled=no interface=ether5 \
    one-session-per-host=yes service-name=isp-pppoe
/interface list member
add interface=ether1 list=WAN
add interface=bridge-lan list=LAN
/ip address
add address=10.5.0.1/22 interface=bridge-lan network=10.5.0.0
add address=192.168.88.1/24 interface=ether4 network=192.168.88.0
/ip dhcp-client
add interface=ether1
/ip dhcp-server network
add address=10.5.0.0/22 dns-server=10.5.0.1 gateway=10.5.0.1
/ip dns
set allow-remote-requests=yes servers=8.8.8.8
/ip firewall filter
add action=passthrough chain=unused-hs-chain comment=\
    "place hotspot rules here" disabled=yes
add action=accept chain=input connection-state=established,related
add action=drop chain=input in-interface-list=WAN
/ip firewall nat
add action=passthrough chain=unused-hs-chain comment=\
    "place hotspot rules here" disabled=yes
add action=masquerade chain=srcnat out-interface-list=WAN
/ip service
set telnet disabled=yes
set ftp disabled=yes
/system identity
set name=cafe-main

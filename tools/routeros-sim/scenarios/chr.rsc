# 2025-04-01 08:00:00 by RouterOS 7.14.3
# software id =
#
/ip address
add address=192.168.88.1/24 interface=ether2 network=192.168.88.0
/ip dhcp-client
add interface=ether1
/system identity
set name=chr-lab

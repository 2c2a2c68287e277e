#!/usr/bin/env python3
"""Writes the sysfs fixture trees used by the topology tests.

Each tree is laid out like /sys as the kernel builds it: the real folders under devices/
(root hub usbN below its controller, a device below the device it hangs from, a device's
interface N-P:1.0 below the device, the hub's ports below the hub's interface), and in
bus/usb/devices one link per device and per interface, which is where the tool looks:

  devices/pci0000:00/0000:00:14.0/usb1/1-0:1.0/usb1-port1      root hub usb1, its port 1
  devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/1-1-port1   hub 1-1 on it, its port 1
  bus/usb/devices/usb1 1-0:1.0 1-1 1-1:1.0 -> the folders above (no port links there)

The root hub's interface is "<bus>-0:1.0" and its ports "usb<bus>-port<n>"; another hub's
interface is "<name>:1.0" and its ports "<name>-port<n>". A device links to its port
("port") and the port to the device ("device"); the two ports of one USB 3 connector link
to each other ("peer"). The attribute files are the ones the tool reads: descriptors,
idVendor, idProduct, bcdDevice, bDeviceClass, version, speed, maxchild, busnum, devnum,
manufacturer, product, serial, authorized, power/control, and per port state (kernels
from 6.5 on) and connect_type. Run it from anywhere; it rewrites the trees next to itself.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
PCI = 'devices/pci0000:00/0000:00:14.0'


def dev_desc(bcd_usb, cls, proto, mps, vid, pid, rev, i_m, i_p, i_s):
    return struct.pack('<BBHBBBBHHHBBBB', 18, 1, bcd_usb, cls, 0, proto, mps, vid, pid, rev,
                       i_m, i_p, i_s, 1)


def cfg_desc(cls):
    intf = struct.pack('<BBBBBBBBB', 9, 4, 0, 0, 1, cls, 0, 0, 0)
    ep = struct.pack('<BBBBHB', 7, 5, 0x81, 3, 2, 12)
    total = 9 + len(intf) + len(ep)
    return struct.pack('<BBHBBBBB', 9, 2, total, 1, 1, 0, 0xE0, 0) + intf + ep


SPEEDS = {0x0200: '480', 0x0210: '480', 0x0300: '5000', 0x0310: '10000', 0x0320: '10000',
          0x0110: '12'}


def is_root(name):
    return name.startswith('usb')


def parent_of(name):
    """'1-1.2' -> ('1-1', 2), '1-2' -> ('usb1', 2)."""
    if '.' in name:
        hub, port = name.rsplit('.', 1)
    else:
        bus, port = name.split('-')
        hub = 'usb' + bus
    return hub, int(port)


def iface_name(name):
    return (name[3:] + '-0' if is_root(name) else name) + ':1.0'


class Tree:
    def __init__(self, name):
        self.top = os.path.join(HERE, name)
        self.paths = {}  # node name -> folder below the tree, relative

    def write(self, rel, content):
        path = os.path.join(self.top, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        mode = 'wb' if isinstance(content, bytes) else 'w'
        with open(path, mode) as f:
            f.write(content)

    def link(self, rel, target):
        path = os.path.join(self.top, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(os.path.relpath(os.path.join(self.top, target), os.path.dirname(path)), path)

    def attr(self, node, rel, content):
        """Writes an attribute of a device by its node name ('1-1', 'usb1')."""
        self.write(self.paths[node] + '/' + rel, content)

    def remove(self, node, rel):
        os.remove(os.path.join(self.top, self.paths[node], rel))

    def port(self, hub, port):
        return '%s/%s/%s-port%d' % (self.paths[hub], iface_name(hub), hub, port)

    def port_state(self, hub, port, state):
        self.write(self.port(hub, port) + '/state', state + '\n')

    def device(self, name, bus, devnum, bcd_usb, cls, vid, pid, rev, strings=None, ports=0,
               speed=None, descriptors=True):
        if is_root(name):
            path = PCI + '/' + name
        else:
            hub, port = parent_of(name)
            path = self.paths[hub] + '/' + name
        self.paths[name] = path
        self.link('bus/usb/devices/' + name, path)
        strings = strings or {}
        i_m = 1 if 'manufacturer' in strings else 0
        i_p = 2 if 'product' in strings else 0
        i_s = 3 if 'serial' in strings else 0
        proto = 3 if cls == 9 and bcd_usb >= 0x0300 else (1 if cls == 9 else 0)
        mps = 9 if bcd_usb >= 0x0300 else 64
        a = lambda rel, content: self.attr(name, rel, content)
        if descriptors:
            a('descriptors', dev_desc(bcd_usb, cls, proto, mps, vid, pid, rev, i_m, i_p, i_s) +
              cfg_desc(cls))
        a('idVendor', '%04x\n' % vid)
        a('idProduct', '%04x\n' % pid)
        a('bcdDevice', '%04x\n' % rev)
        a('bDeviceClass', '%02x\n' % cls)
        a('bDeviceSubClass', '00\n')
        a('bDeviceProtocol', '%02x\n' % proto)
        a('bMaxPacketSize0', '%d\n' % mps)
        a('bNumConfigurations', '1\n')
        a('bConfigurationValue', '1\n')
        a('version', '%2x.%02x\n' % (bcd_usb >> 8, bcd_usb & 0xFF))
        a('speed', (speed or SPEEDS.get(bcd_usb, '480')) + '\n')
        a('busnum', '%d\n' % bus)
        a('devnum', '%d\n' % devnum)
        a('authorized', '1\n')
        a('power/control', 'auto\n')
        for k, v in strings.items():
            a(k, v + '\n')
        iface = path + '/' + iface_name(name)
        self.link('bus/usb/devices/' + iface_name(name), iface)
        self.write(iface + '/bInterfaceClass', '%02x\n' % (9 if cls == 9 else 8))
        if cls == 9:
            a('maxchild', '%d\n' % ports)
            for p in range(1, ports + 1):
                self.port_state(name, p, 'not attached')
                self.write(self.port(name, p) + '/connect_type', 'hotplug\n')
        if not is_root(name):
            # The port the device hangs from says it is there, and the two link each other.
            hub, port = parent_of(name)
            self.port_state(hub, port, 'configured')
            self.link(path + '/port', self.port(hub, port))
            self.link(self.port(hub, port) + '/device', path)

    def root(self, bus, usb3, ports):
        bcd = 0x0310 if usb3 else 0x0200
        self.device('usb%d' % bus, bus, 1, bcd, 9, 0x1d6b, 3 if usb3 else 2, 0x0618,
                    {'manufacturer': 'Linux 6.1.0 xhci-hcd', 'product': 'xHCI Host Controller',
                     'serial': '0000:00:14.0'}, ports)

    def hub(self, name, bus, devnum, usb3, strings=None, ports=4, pid=None):
        bcd = 0x0320 if usb3 else 0x0210
        self.device(name, bus, devnum, bcd, 9, 0x2f7b, pid or (0x55AA if usb3 else 0x55AB), 0x0100,
                    strings if strings is not None else VLN, ports)

    def peers(self, hub_a, hub_b, ports):
        """The ports of two root hubs of one controller share their connectors."""
        for p in range(1, ports + 1):
            self.link(self.port(hub_a, p) + '/peer', self.port(hub_b, p))
            self.link(self.port(hub_b, p) + '/peer', self.port(hub_a, p))


VLN = {'manufacturer': 'Velnor', 'product': 'USB3.2 Hub'}


def make():
    for t in os.listdir(HERE):
        # vm_guest is a real kernel's tree (scripts/vm/capture-sysfs.py), not made here
        if os.path.isdir(os.path.join(HERE, t)) and t != 'vm_guest':
            shutil.rmtree(os.path.join(HERE, t))

    t = Tree('usb2_hub')
    t.root(1, False, 2)
    t.hub('1-1', 1, 2, False, dict(VLN, serial='SN0001'))

    t = Tree('usb3_halves')
    t.root(1, False, 4)
    t.root(2, True, 4)
    t.peers('usb1', 'usb2', 4)
    t.hub('1-2', 1, 3, False, dict(VLN, serial='HALF01'))
    t.hub('2-2', 2, 2, True, dict(VLN, serial='HALF01'))

    t = Tree('cascade3')
    t.root(2, True, 2)
    t.hub('2-1', 2, 2, True, dict(VLN, serial='L0'))
    t.hub('2-1.2', 2, 3, True, dict(VLN, serial='L1'))
    t.hub('2-1.2.3', 2, 4, True, dict(VLN, serial='L2'))

    t = Tree('mixed')
    t.root(1, False, 3)
    t.hub('1-1', 1, 2, False, dict(VLN, serial='MIX1'), ports=2)
    t.device('1-2', 1, 3, 0x0210, 0, 0x0bda, 0x9210, 0x2001,
             {'manufacturer': 'Bridge', 'product': 'Disk', 'serial': 'D1'})
    t.device('1-1.1', 1, 4, 0x0110, 0, 0x046d, 0xc31c, 0x6400, {'product': 'Keyboard'},
             speed='1.5')

    t = Tree('hub_nostrings')
    t.root(1, False, 1)
    t.hub('1-1', 1, 2, False, {})

    t = Tree('enum_failed')
    t.root(1, False, 3)
    t.port_state('usb1', 1, 'default')          # root port: device seen, never addressed
    t.device('1-2', 1, 5, 0x0200, 0, 0x1234, 0x5678, 0x0001, descriptors=False)
    for f in ('idVendor', 'version'):
        t.remove('1-2', f)                      # the kernel gave up half way
    t.hub('1-3', 1, 6, False, dict(VLN, serial='OK3'))
    t.port_state('1-3', 2, 'powered')           # hub port: device seen, never reset

    t = Tree('bad_files')
    t.root(1, False, 3)
    t.hub('1-1', 1, 2, False, dict(VLN, serial='B1'))
    t.attr('1-1', 'maxchild', 'many\n')         # nonsense port count
    t.device('1-2', 1, 3, 0x0200, 0, 0x1234, 0x5678, 0x0001)
    t.attr('1-2', 'descriptors', b'\x12\x01\x00')  # cut short
    t.attr('1-2', 'idVendor', 'zzzz\n')
    t.hub('1-3', 1, 4, False, dict(VLN, serial='B3'))
    t.attr('1-3', 'descriptors', b'')            # empty: the single files still give it
    t.attr('1-3', 'speed', '\n')


if __name__ == '__main__':
    make()

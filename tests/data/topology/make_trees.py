#!/usr/bin/env python3
"""Writes the sysfs fixture trees used by the topology tests.

Each tree is laid out like /sys/bus/usb/devices (flat: every device and interface is one
folder, as the kernel's symlinks present them) with the attribute files the tool reads:
descriptors, idVendor, idProduct, bcdDevice, bDeviceClass, version, speed, maxchild,
busnum, devnum, manufacturer, product, serial, and per port <hub>:1.0/<hub>-portN/state.
Run it from anywhere; it rewrites the trees next to itself.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def dev_desc(bcd_usb, cls, proto, mps, vid, pid, rev, i_m, i_p, i_s):
    return struct.pack('<BBHBBBBHHHBBBB', 18, 1, bcd_usb, cls, 0, proto, mps, vid, pid, rev,
                       i_m, i_p, i_s, 1)


def cfg_desc(cls):
    intf = struct.pack('<BBBBBBBBB', 9, 4, 0, 0, 1, cls, 0, 0, 0)
    ep = struct.pack('<BBBBHB', 7, 5, 0x81, 3, 2, 12)
    total = 9 + len(intf) + len(ep)
    return struct.pack('<BBHBBBBB', 9, 2, total, 1, 1, 0, 0xE0, 0) + intf + ep


def write(tree, rel, content):
    path = os.path.join(HERE, tree, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = 'wb' if isinstance(content, bytes) else 'w'
    with open(path, mode) as f:
        f.write(content)


SPEEDS = {0x0200: '480', 0x0210: '480', 0x0300: '5000', 0x0310: '10000', 0x0320: '10000',
          0x0110: '12'}


def device(tree, name, bus, devnum, bcd_usb, cls, vid, pid, rev, strings=None, ports=0,
           speed=None, descriptors=True):
    strings = strings or {}
    i_m = 1 if 'manufacturer' in strings else 0
    i_p = 2 if 'product' in strings else 0
    i_s = 3 if 'serial' in strings else 0
    proto = 3 if cls == 9 and bcd_usb >= 0x0300 else (1 if cls == 9 else 0)
    mps = 9 if bcd_usb >= 0x0300 else 64
    if descriptors:
        write(tree, name + '/descriptors',
              dev_desc(bcd_usb, cls, proto, mps, vid, pid, rev, i_m, i_p, i_s) + cfg_desc(cls))
    write(tree, name + '/idVendor', '%04x\n' % vid)
    write(tree, name + '/idProduct', '%04x\n' % pid)
    write(tree, name + '/bcdDevice', '%04x\n' % rev)
    write(tree, name + '/bDeviceClass', '%02x\n' % cls)
    write(tree, name + '/bDeviceSubClass', '00\n')
    write(tree, name + '/bDeviceProtocol', '%02x\n' % proto)
    write(tree, name + '/bMaxPacketSize0', '%d\n' % mps)
    write(tree, name + '/bNumConfigurations', '1\n')
    write(tree, name + '/version', '%2x.%02x\n' % (bcd_usb >> 8, bcd_usb & 0xFF))
    write(tree, name + '/speed', (speed or SPEEDS.get(bcd_usb, '480')) + '\n')
    write(tree, name + '/busnum', '%d\n' % bus)
    write(tree, name + '/devnum', '%d\n' % devnum)
    write(tree, name + '/authorized', '1\n')
    write(tree, name + '/power/control', 'auto\n')
    for k, v in strings.items():
        write(tree, name + '/' + k, v + '\n')
    if cls == 9:
        write(tree, name + '/maxchild', '%d\n' % ports)
        for p in range(1, ports + 1):
            write(tree, '%s:1.0/%s-port%d/state' % (name, name, p), 'not attached\n')
            write(tree, '%s:1.0/%s-port%d/connect_type' % (name, name, p), 'hotplug\n')
    else:
        write(tree, name + ':1.0/bInterfaceClass', '08\n')


def port_state(tree, hub, port, state):
    write(tree, '%s:1.0/%s-port%d/state' % (hub, hub, port), state + '\n')


def root(tree, bus, usb3, ports):
    bcd = 0x0310 if usb3 else 0x0200
    device(tree, 'usb%d' % bus, bus, 1, bcd, 9, 0x1d6b, 3 if usb3 else 2, 0x0618,
           {'manufacturer': 'Linux 6.1.0 xhci-hcd', 'product': 'xHCI Host Controller',
            'serial': '0000:00:14.0'}, ports)


VLN = {'manufacturer': 'Velnor', 'product': 'USB3.2 Hub'}


def hub(tree, name, bus, devnum, usb3, strings=None, ports=4, pid=None):
    bcd = 0x0320 if usb3 else 0x0210
    device(tree, name, bus, devnum, bcd, 9, 0x2f7b, pid or (0x55AA if usb3 else 0x55AB), 0x0100,
           strings if strings is not None else VLN, ports)


def child_port(name):
    hubname, port = name.rsplit('.', 1) if '.' in name else ('usb' + name.split('-')[0], name.split('-')[1])
    return hubname, int(port)


def connected(tree, name):
    h, p = child_port(name)
    port_state(tree, h, p, 'configured')


def make():
    for t in os.listdir(HERE):
        if os.path.isdir(os.path.join(HERE, t)):
            shutil.rmtree(os.path.join(HERE, t))

    t = 'usb2_hub'
    root(t, 1, False, 2)
    hub(t, '1-1', 1, 2, False, dict(VLN, serial='SN0001'))
    connected(t, '1-1')

    t = 'usb3_halves'
    root(t, 1, False, 4)
    root(t, 2, True, 4)
    hub(t, '1-2', 1, 3, False, dict(VLN, serial='HALF01'))
    hub(t, '2-2', 2, 2, True, dict(VLN, serial='HALF01'))
    connected(t, '1-2')
    connected(t, '2-2')

    t = 'cascade3'
    root(t, 2, True, 2)
    hub(t, '2-1', 2, 2, True, dict(VLN, serial='L0'))
    hub(t, '2-1.2', 2, 3, True, dict(VLN, serial='L1'))
    hub(t, '2-1.2.3', 2, 4, True, dict(VLN, serial='L2'))
    for n in ('2-1', '2-1.2', '2-1.2.3'):
        connected(t, n)

    t = 'mixed'
    root(t, 1, False, 3)
    hub(t, '1-1', 1, 2, False, dict(VLN, serial='MIX1'), ports=2)
    device(t, '1-2', 1, 3, 0x0210, 0, 0x0bda, 0x9210, 0x2001,
           {'manufacturer': 'Bridge', 'product': 'Disk', 'serial': 'D1'})
    device(t, '1-1.1', 1, 4, 0x0110, 0, 0x046d, 0xc31c, 0x6400, {'product': 'Keyboard'},
           speed='1.5')
    for n in ('1-1', '1-2', '1-1.1'):
        connected(t, n)

    t = 'hub_nostrings'
    root(t, 1, False, 1)
    hub(t, '1-1', 1, 2, False, {})
    connected(t, '1-1')

    t = 'enum_failed'
    root(t, 1, False, 3)
    port_state(t, 'usb1', 1, 'default')           # device seen, never addressed
    device(t, '1-2', 1, 5, 0x0200, 0, 0x1234, 0x5678, 0x0001, descriptors=False)
    for f in ('idVendor', 'version'):
        os.remove(os.path.join(HERE, t, '1-2', f))  # the kernel gave up half way
    connected(t, '1-2')
    hub(t, '1-3', 1, 6, False, dict(VLN, serial='OK3'))
    connected(t, '1-3')

    t = 'bad_files'
    root(t, 1, False, 3)
    hub(t, '1-1', 1, 2, False, dict(VLN, serial='B1'))
    write(t, '1-1/maxchild', 'many\n')          # nonsense port count
    device(t, '1-2', 1, 3, 0x0200, 0, 0x1234, 0x5678, 0x0001)
    write(t, '1-2/descriptors', b'\x12\x01\x00')  # cut short
    write(t, '1-2/idVendor', 'zzzz\n')
    hub(t, '1-3', 1, 4, False, dict(VLN, serial='B3'))
    write(t, '1-3/descriptors', b'')             # empty: the single files still give it
    write(t, '1-3/speed', '\n')
    for n in ('1-1', '1-2', '1-3'):
        connected(t, n)


if __name__ == '__main__':
    make()

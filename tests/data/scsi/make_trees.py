#!/usr/bin/env python3
"""Writes the sysfs fixture tree used by the storage-drive tests (sys1/).

Laid out like /sys: real folders under devices/, and the links the kernel keeps:
class/block/<name> -> the block device, bus/usb/devices/<node> -> the USB device, each USB
device's "port" link to the port it hangs from, and each SuperSpeed root-hub port's "peer"
link to the USB 2 port of the same connector (and back). Run it from anywhere; it rewrites
the tree next to itself.

The bench in it: controller with USB 2 root hub usb1 and SuperSpeed root hub usb2.
  hub A  1-1 / 2-1    bridge 2-1.4 (disks sdf, sdc, CD-ROM sr1); hub E on its port 2
  hub E  1-1.2 / 2-1.2  bridge 2-1.2.1 (disk sdb)
  hub B  1-2 / 2-2    USB 2 bridge 1-2.3 on the USB 2 half (disk sdaa with partition sdaa1)
  hub C  1-3 / 2-3    nothing behind it
  hub D  1-4 / 2-4    bridge 2-4.1 with CD-ROM sr0 only
  sda is an ATA disk, loop0 a virtual one.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, 'sys1')
PCI = 'devices/pci0000:00/0000:00:14.0'


def write(rel, content):
    path = os.path.join(ROOT, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write(content)


def link(rel, target):
    path = os.path.join(ROOT, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(os.path.relpath(os.path.join(ROOT, target), os.path.dirname(path)), path)


def usb_device(path, cls):
    write(path + '/bDeviceClass', '%02x\n' % cls)
    node = os.path.basename(path)
    link('bus/usb/devices/' + node, path)


def hub_ports(path, node, nports=4):
    iface = path + '/' + (node if not node.startswith('usb') else node[3:] + '-0') + ':1.0'
    if node.startswith('usb'):
        iface = path + '/' + node[3:] + '-0:1.0'
    write(iface + '/bInterfaceClass', '09\n')
    for p in range(1, nports + 1):
        write('%s/%s-port%d/connect_type' % (iface, node, p), 'hotplug\n')
    return iface


def port_of(dev_path, parent_path, parent_node, port):
    iface = parent_path + '/' + (parent_node[3:] + '-0' if parent_node.startswith('usb') else parent_node) + ':1.0'
    link(dev_path + '/port', '%s/%s-port%d' % (iface, parent_node, port))
    return '%s/%s-port%d' % (iface, parent_node, port)


def peers(a, b):
    link(a + '/peer', b)
    link(b + '/peer', a)


def disk(dev_path, host, lun, name, partitions=()):
    blk = '%s/%s:1.0/host%d/target%d:0:0/%d:0:0:%d/block/%s' % (dev_path, os.path.basename(dev_path), host, host,
                                                                host, lun, name)
    write(blk + '/dev', '8:%d\n' % (lun * 16))
    link('class/block/' + name, blk)
    for part in partitions:
        write(blk + '/' + part + '/partition', part[-1] + '\n')
        link('class/block/' + part, blk + '/' + part)


def main():
    shutil.rmtree(ROOT, ignore_errors=True)
    u1, u2 = PCI + '/usb1', PCI + '/usb2'
    usb_device(u1, 9)
    usb_device(u2, 9)
    hub_ports(u1, 'usb1')
    hub_ports(u2, 'usb2')
    for p in range(1, 5):
        peers(u2 + '/2-0:1.0/usb2-port%d' % p, u1 + '/1-0:1.0/usb1-port%d' % p)
    halves = {}
    for p in range(1, 5):
        h1, h2 = u1 + '/1-%d' % p, u2 + '/2-%d' % p
        usb_device(h1, 9)
        usb_device(h2, 9)
        hub_ports(h1, '1-%d' % p)
        hub_ports(h2, '2-%d' % p)
        port_of(h1, u1, 'usb1', p)
        port_of(h2, u2, 'usb2', p)
        halves[p] = (h1, h2)
    a1, a2 = halves[1]
    # hub A: bridge on port 4 of its SuperSpeed half, several LUNs
    br = a2 + '/2-1.4'
    usb_device(br, 0)
    port_of(br, a2, '2-1', 4)
    disk(br, 6, 0, 'sdf')
    disk(br, 6, 1, 'sdc')
    disk(br, 6, 2, 'sr1')
    # hub E on port 2 of hub A (both halves), its own bridge
    e1, e2 = a1 + '/1-1.2', a2 + '/2-1.2'
    usb_device(e1, 9)
    usb_device(e2, 9)
    hub_ports(e1, '1-1.2')
    hub_ports(e2, '2-1.2')
    pe1 = port_of(e1, a1, '1-1', 2)
    pe2 = port_of(e2, a2, '2-1', 2)
    peers(pe2, pe1)
    bre = e2 + '/2-1.2.1'
    usb_device(bre, 0)
    port_of(bre, e2, '2-1.2', 1)
    disk(bre, 8, 0, 'sdb')
    # hub B: a USB 2 bridge below its USB 2 half
    b1, _ = halves[2]
    brb = b1 + '/1-2.3'
    usb_device(brb, 0)
    port_of(brb, b1, '1-2', 3)
    disk(brb, 7, 0, 'sdaa', partitions=('sdaa1',))
    # hub D: CD-ROM only
    _, d2 = halves[4]
    brd = d2 + '/2-4.1'
    usb_device(brd, 0)
    port_of(brd, d2, '2-4', 1)
    disk(brd, 9, 0, 'sr0')
    # not on USB at all
    sda = 'devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda'
    write(sda + '/dev', '8:0\n')
    link('class/block/sda', sda)
    write('devices/virtual/block/loop0/dev', '7:0\n')
    link('class/block/loop0', 'devices/virtual/block/loop0')


if __name__ == '__main__':
    main()

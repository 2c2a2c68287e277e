#!/usr/bin/env python3
"""Saves the USB part of a running kernel's sysfs as a topology fixture tree.

  capture-sysfs.py OUT [SYS]

Run in the VM test's guest (scripts/test-vm keeps the tree in its run folder); the tree in
tests/data/topology/vm_guest came from it. Each device and interface of SYS/bus/usb/devices
(default /sys) is saved at its real place under devices/, with the attribute files the
walker reads, its hub ports (their attributes and their "device" and "peer" links) and the
device's "port" link; bus/usb/devices gets the same relative links the kernel makes.
"""
import os
import sys

DEVICE_FILES = ['descriptors', 'idVendor', 'idProduct', 'bcdDevice', 'bDeviceClass', 'bDeviceProtocol',
                'version', 'speed', 'maxchild', 'busnum', 'devnum', 'manufacturer', 'product', 'serial',
                'authorized', 'power/control', 'bConfigurationValue', 'bNumInterfaces', 'removable']
INTERFACE_FILES = ['bInterfaceClass', 'bInterfaceNumber', 'bAlternateSetting', 'bNumEndpoints']
PORT_FILES = ['connect_type', 'state']
PORT_LINKS = ['device', 'peer']


def copy_file(src, dst):
    try:
        with open(src, 'rb') as f:
            data = f.read()
    except OSError:
        return  # absent on this kernel, or unreadable: the fixture leaves it out too
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    with open(dst, 'wb') as f:
        f.write(data)


def copy_link(src_dir, name, dst_dir, sys_root):
    link = os.path.join(src_dir, name)
    if not os.path.islink(link):
        return
    target = os.path.realpath(link)
    if not target.startswith(sys_root + '/'):
        return
    rel = os.path.relpath(target, os.path.realpath(src_dir))
    os.makedirs(dst_dir, exist_ok=True)
    os.symlink(rel, os.path.join(dst_dir, name))


def main():
    out = os.path.abspath(sys.argv[1])
    sys_root = os.path.realpath(sys.argv[2] if len(sys.argv) > 2 else '/sys')
    listing = os.path.join(sys_root, 'bus/usb/devices')
    os.makedirs(os.path.join(out, 'bus/usb/devices'), exist_ok=True)
    for name in sorted(os.listdir(listing)):
        real = os.path.realpath(os.path.join(listing, name))
        rel = os.path.relpath(real, sys_root)
        dst = os.path.join(out, rel)
        os.makedirs(dst, exist_ok=True)
        files = INTERFACE_FILES if ':' in name else DEVICE_FILES
        for f in files:
            copy_file(os.path.join(real, f), os.path.join(dst, f))
        if ':' not in name:
            copy_link(real, 'port', dst, sys_root)
        else:
            for port in sorted(os.listdir(real)):
                if '-port' not in port:
                    continue
                for f in PORT_FILES:
                    copy_file(os.path.join(real, port, f), os.path.join(dst, port, f))
                for link in PORT_LINKS:
                    copy_link(os.path.join(real, port), link, os.path.join(dst, port), sys_root)
        os.symlink(os.path.relpath(dst, os.path.join(out, 'bus/usb/devices')),
                   os.path.join(out, 'bus/usb/devices', name))


main()

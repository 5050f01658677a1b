#!/usr/bin/env python3
"""Writes a component catalogue ("compoment.xml") from a short description,
taking each package's MD5 and size from the package file itself.

Description (JSON text, or a dict for write_catalogue / catalogue_xml):
  {
    "root": "ComponentList",           root element name (any; optional)
    "packageDir": "files/pkg",         where package files are looked up,
                                       relative to the base folder (optional)
    "baseUrl": "http://127.0.0.1:8080/pkg/",
                                       an item without "url" gets baseUrl + name
    "items": [ITEM, ...],              the general records
    "channels": [                      optional: one "other" element holding
      {"range": "100-199,250",         one "OtherConfig" with one
       "items": [ITEM, ...]}, ...      "ChannelComponents" per entry
    ]
  }
  ITEM:
  {
    "id": 1, "name": "emu.exe", "localaddpath": "Emu",
    "installInX86": true, "installInX64": true,   (default true; "1"/"0" written)
    "writePathToRegKey": "SOFTWARE\\\\Vendor\\\\Emu",
    "DL_ID": 11,                         (default: the id)
    "version": "3.1.20.5",               (default "1.0.0.0")
    "file": "emu-package.exe",           package file for hash and filesize;
                                         default <packageDir>/<name>
    "hash": "...", "filesize": n, "url": "...",
                                         given values win over computed ones
                                         (to write a wrong digest or size)
    "hashCase": "upper",                 digest in capitals (default lower)
    "attrs": {"id": "12abc", "url": null}
                                         written as is, last; null leaves the
                                         attribute out (a missing "id", say)
  }
The base folder is the description file's folder, or the current folder for
a dict unless base_dir is given. Attributes are written in the order
id, name, localaddpath, installInX86, installInX64, writePathToRegKey, DL_ID,
hash, filesize, url, version, then any other "attrs".

Command line:
  catalogue_writer.py DESCRIPTION.json [--out FILE ...] [--site ROOT]
    --site ROOT writes both catalogue locations under a package root of the
    fixture server: ROOT/downloads/xml/compoment.xml (primary) and
    ROOT/open/qrmt/xml/compoment.xml (fallback). Without --out or --site the
    catalogue goes to standard output.
"""

import argparse
import hashlib
import json
import os
import sys
import xml.etree.ElementTree as ET

CATALOGUE_LOCATIONS = ("downloads/xml/compoment.xml", "open/qrmt/xml/compoment.xml")
ATTRIBUTE_ORDER = ("id", "name", "localaddpath", "installInX86", "installInX64", "writePathToRegKey",
                   "DL_ID", "hash", "filesize", "url", "version")


def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _flag(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)


def item_attributes(item, description, base_dir):
    """The attributes of one "Item" element, in writing order."""
    name = item.get("name", "")
    attrs = {
        "id": str(item.get("id", "")),
        "name": name,
        "localaddpath": item.get("localaddpath", ""),
        "installInX86": _flag(item.get("installInX86", True)),
        "installInX64": _flag(item.get("installInX64", True)),
        "writePathToRegKey": item.get("writePathToRegKey", ""),
        "DL_ID": str(item.get("DL_ID", item.get("id", ""))),
        "hash": "",
        "filesize": "0",
        "url": item.get("url", description.get("baseUrl", "") + name),
        "version": item.get("version", "1.0.0.0"),
    }
    package = item.get("file")
    if package is None and name:
        package = os.path.join(description.get("packageDir", ""), name)
    if package is not None:
        package = os.path.join(base_dir, package)
    if "hash" in item:
        attrs["hash"] = item["hash"]
    elif package and os.path.isfile(package):
        attrs["hash"] = file_md5(package)
        if item.get("hashCase") == "upper":
            attrs["hash"] = attrs["hash"].upper()
    else:
        raise FileNotFoundError("item %s: no package file %s and no hash given" % (item.get("id"), package))
    if "filesize" in item:
        attrs["filesize"] = str(item["filesize"])
    else:
        attrs["filesize"] = str(os.path.getsize(package)) if package and os.path.isfile(package) else "0"
    for key, value in item.get("attrs", {}).items():
        if value is None:
            attrs.pop(key, None)
        else:
            attrs[key] = str(value)
    return attrs


def catalogue_tree(description, base_dir="."):
    root = ET.Element(description.get("root", "ComponentList"))
    for item in description.get("items", []):
        ET.SubElement(root, "Item", item_attributes(item, description, base_dir))
    channels = description.get("channels", [])
    if channels:
        config = ET.SubElement(ET.SubElement(root, "other"), "OtherConfig")
        for channel in channels:
            element = ET.SubElement(config, "ChannelComponents", {"ChannelRange": str(channel.get("range", ""))})
            for item in channel.get("items", []):
                ET.SubElement(element, "Item", item_attributes(item, description, base_dir))
    return ET.ElementTree(root)


def catalogue_xml(description, base_dir="."):
    """The catalogue as UTF-8 bytes with an XML declaration."""
    tree = catalogue_tree(description, base_dir)
    ET.indent(tree)
    return ET.tostring(tree.getroot(), encoding="utf-8", xml_declaration=True) + b"\n"


def write_catalogue(description, out_paths=(), site_root=None, base_dir="."):
    """Writes the catalogue to each path and, with site_root, to both of the
    fixture server's catalogue locations under it. Returns the bytes."""
    data = catalogue_xml(description, base_dir)
    targets = list(out_paths)
    if site_root:
        targets += [os.path.join(site_root, *location.split("/")) for location in CATALOGUE_LOCATIONS]
    for path in targets:
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    return data


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("description", help="JSON description file, or - for standard input")
    parser.add_argument("--out", action="append", default=[], help="catalogue file to write (repeatable)")
    parser.add_argument("--site", help="package root of the fixture server")
    args = parser.parse_args()
    if args.description == "-":
        description, base_dir = json.load(sys.stdin), "."
    else:
        with open(args.description) as f:
            description = json.load(f)
        base_dir = os.path.dirname(os.path.abspath(args.description))
    data = write_catalogue(description, args.out, args.site, base_dir)
    if not args.out and not args.site:
        sys.stdout.buffer.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds an ICNS icon file from one square PNG with Pillow: the icon at every size from 16 to
1024 pixels, each stored as PNG, which every ICNS reader (Qt's among them) decodes."""
import sys

from PIL import Image

source, target = sys.argv[1], sys.argv[2]
Image.open(source).convert("RGBA").save(
    target, format="ICNS", sizes=[(s, s) for s in (16, 32, 64, 128, 256, 512, 1024)])

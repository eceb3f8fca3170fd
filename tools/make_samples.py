#!/usr/bin/env python3
"""Writes the bundled sample stacks under data/ (standard library only).

data/phantom/: 96 grey PNG slices of 128 x 128, an ellipsoid shell with a
brighter core and two dense spheres, the kind of stack a CT scan of a small
object gives.
data/torus/: 48 grey PNG slices of 96 x 96, a tilted torus.
data/text/: one slice in each of the two text formats, ring.dat (CT image
text) and ramp.dat (table text), both named *.dat so that the file dialog's
default filter shows them.
data/dicom/: 48 CT slices of 64 x 64 as DICOM files, a head-like phantom in
Hounsfield units (12 bits stored, intercept -1024), with 3.5 mm pixels and
slices 5 mm apart, so that it looks right only at its true shape. The file
names run from the top of the head down, as a scanner numbers its images; the
series loads in position order, from the lowest slice up.
data/nifti/phantom.nii.gz: the same kind of head phantom as one NIfTI-1
volume of 64 x 64 x 40, 0.8 x 0.8 mm pixels and slices 2 mm apart, stored as
16-bit integers that scl_slope 0.5 and scl_inter -1024 make Hounsfield units.
data/multiframe/enhanced-ct.dcm: a head phantom as one Enhanced CT image of
24 frames of 64 x 64, 3.5 mm pixels, frames 5 mm apart, each placed by its own
Plane Position and written in reverse order of position; written with pydicom,
the only part of this tool that needs more than the standard library.
"""
import gzip
import hashlib
import math
import os
import struct
import zlib


def write_png(path, width, height, pixels):
    raw = b"".join(b"\x00" + bytes(pixels[y * width:(y + 1) * width]) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def phantom(root):
    w = h = 128
    n = 96
    os.makedirs(root, exist_ok=True)
    for k in range(n):
        z = (k - n / 2 + 0.5) / (n / 2)
        px = []
        for y in range(h):
            for x in range(w):
                u = (x - w / 2 + 0.5) / (w / 2)
                v = (y - h / 2 + 0.5) / (h / 2)
                r = math.sqrt((u / 0.9) ** 2 + (v / 0.75) ** 2 + (z / 0.85) ** 2)
                value = 10
                if r < 1.0:
                    value = 60 + int(60 * (1 - r))
                    if r > 0.88:
                        value = 200
                for cx, cy, cz, rad, val in ((0.3, -0.2, 0.2, 0.22, 250), (-0.35, 0.25, -0.3, 0.15, 230)):
                    if (u - cx) ** 2 + (v - cy) ** 2 + (z - cz) ** 2 < rad * rad:
                        value = val
                px.append(min(255, value + ((x * 7 + y * 13 + k * 5) % 9)))
        write_png(os.path.join(root, "phantom_%03d.png" % k), w, h, px)


def torus(root):
    w = h = 96
    n = 48
    os.makedirs(root, exist_ok=True)
    tilt = 0.5
    for k in range(n):
        px = []
        for y in range(h):
            for x in range(w):
                X = x - w / 2 + 0.5
                Y = y - h / 2 + 0.5
                Z = (k - n / 2 + 0.5) * 1.5
                Yr = Y * math.cos(tilt) - Z * math.sin(tilt)
                Zr = Y * math.sin(tilt) + Z * math.cos(tilt)
                q = math.sqrt(X * X + Yr * Yr) - 30
                d = math.sqrt(q * q + Zr * Zr)
                px.append(max(0, min(255, int(255 - d * 18))) if d < 14 else 0)
        write_png(os.path.join(root, "torus_%03d.png" % k), w, h, px)


def text_slices(root):
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "ring.dat"), "w") as f:
        f.write("#VELD-CTImg sample ring\n")
        for key, val in (("Range_X0", 0), ("Range_Y0", 0), ("Range_X1", 31), ("Range_Y1", 31)):
            f.write("# %s = %d\n" % (key, val))
        for y in range(32):
            for x in range(32):
                r = math.hypot(x - 15.5, y - 15.5)
                f.write("%d %d %.4g\n" % (x, y, math.exp(-((r - 10) ** 2) / 8.0) * 1000))
    with open(os.path.join(root, "ramp.dat"), "w") as f:
        f.write("## 240301 sample ramp\n")
        f.write("# X-NUM 33\n# Y-NUM 33\n# Format1 : XYV\n")
        for y in range(33):
            for x in range(33):
                f.write("%d,%d,%.3f\n" % (100 + x, 200 + y, x * 0.5 + y * 0.25))


def uid(text):
    # A UID under the 2.25 root, made from a UUID-sized hash so that every
    # run writes the same files.
    return "2.25.%d" % int(hashlib.md5(text.encode()).hexdigest(), 16)


def element(group, elem, vr, value):
    if isinstance(value, str):
        value = value.encode("ascii")
        if len(value) % 2:
            value += b"\0" if vr == "UI" else b" "
    head = struct.pack("<HH", group, elem) + vr.encode("ascii")
    if vr in ("OB", "OW", "SQ", "UN", "UT"):
        return head + struct.pack("<HI", 0, len(value)) + value
    return head + struct.pack("<H", len(value)) + value


def write_dicom(path, meta, dataset):
    """A DICOM file in explicit VR little endian; elements in tag order."""
    body = b"".join(element(*e) for e in meta)
    with open(path, "wb") as f:
        f.write(b"\0" * 128 + b"DICM")
        f.write(element(0x0002, 0x0000, "UL", struct.pack("<I", len(body))))
        f.write(body)
        f.write(b"".join(element(*e) for e in dataset))


def dicom_series(root):
    w = h = 64
    n = 48
    pixel = 3.5
    spacing = 5.0
    os.makedirs(root, exist_ok=True)
    ct_image = "1.2.840.10008.5.1.4.1.1.2"
    study = uid("ctslab sample study")
    series = uid("ctslab sample series")
    us = lambda v: struct.pack("<H", v)
    corner = -(w - 1) * pixel / 2
    for k in range(n):
        z = (n - 1 - k) * spacing
        zc = (k - n / 2 + 0.5) / (n / 2)
        pixels = []
        for y in range(h):
            for x in range(w):
                u = (x - w / 2 + 0.5) / (w / 2)
                v = (y - h / 2 + 0.5) / (h / 2)
                r = math.sqrt((u / 0.78) ** 2 + (v / 0.92) ** 2 + (zc / 0.95) ** 2)
                hu = -1000
                if r < 1.0:
                    hu = 1000 if r > 0.88 else 35 + ((x * 7 + y * 3 + k * 5) % 11)
                    if (abs(u) - 0.18) ** 2 / 0.01 + (v + 0.1) ** 2 / 0.06 + zc ** 2 / 0.2 < 1:
                        hu = 8
                if y in (58, 59) and 6 <= x < 58:
                    hu = 150    # the couch, in every slice
                pixels.append(hu + 1024)
        instance = uid("ctslab sample image %d" % k)
        meta = [
            (0x0002, 0x0001, "OB", b"\0\1"),
            (0x0002, 0x0002, "UI", ct_image),
            (0x0002, 0x0003, "UI", instance),
            (0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1"),
            (0x0002, 0x0012, "UI", uid("ctslab make_samples")),
        ]
        dataset = [
            (0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY\\AXIAL"),
            (0x0008, 0x0016, "UI", ct_image),
            (0x0008, 0x0018, "UI", instance),
            (0x0008, 0x0060, "CS", "CT"),
            (0x0008, 0x103E, "LO", "ctslab sample head phantom"),
            (0x0010, 0x0010, "PN", "Sample^Phantom"),
            (0x0010, 0x0020, "LO", "CTSLAB-SAMPLE"),
            (0x0018, 0x0050, "DS", "%g" % spacing),
            (0x0020, 0x000D, "UI", study),
            (0x0020, 0x000E, "UI", series),
            (0x0020, 0x0011, "IS", "1"),
            (0x0020, 0x0013, "IS", str(k + 1)),
            (0x0020, 0x0032, "DS", "%g\\%g\\%g" % (corner, corner, z)),
            (0x0020, 0x0037, "DS", "1\\0\\0\\0\\1\\0"),
            (0x0028, 0x0002, "US", us(1)),
            (0x0028, 0x0004, "CS", "MONOCHROME2"),
            (0x0028, 0x0010, "US", us(h)),
            (0x0028, 0x0011, "US", us(w)),
            (0x0028, 0x0030, "DS", "%g\\%g" % (pixel, pixel)),
            (0x0028, 0x0100, "US", us(16)),
            (0x0028, 0x0101, "US", us(12)),
            (0x0028, 0x0102, "US", us(11)),
            (0x0028, 0x0103, "US", us(0)),
            (0x0028, 0x1052, "DS", "-1024"),
            (0x0028, 0x1053, "DS", "1"),
            (0x7FE0, 0x0010, "OW", struct.pack("<%dH" % len(pixels), *pixels)),
        ]
        write_dicom(os.path.join(root, "ct_%03d.dcm" % k), meta, dataset)


def head_hu(u, v, zc, noise):
    """Hounsfield units of the head phantom at (u, v, zc), each in -1..1, on
    a couch that every slice shows."""
    if 0.8 < v < 0.9 and abs(u) < 0.8:
        return 150
    r = math.sqrt((u / 0.78) ** 2 + (v / 0.92) ** 2 + (zc / 0.95) ** 2)
    if r >= 1.0:
        return -1000
    if r > 0.88:
        return 1000
    if (abs(u) - 0.18) ** 2 / 0.01 + (v + 0.1) ** 2 / 0.06 + zc ** 2 / 0.2 < 1:
        return 8
    return 35 + noise


def nifti_volume(root):
    w = h = 64
    n = 40
    slope, inter = 0.5, -1024.0
    header = bytearray(348)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, 3, w, h, n, 1, 1, 1, 1)
    struct.pack_into("<hh", header, 70, 4, 16)                    # int16
    struct.pack_into("<8f", header, 76, 1, 0.8, 0.8, 2.0, 0, 0, 0, 0)
    struct.pack_into("<fff", header, 108, 352, slope, inter)      # vox_offset, scaling
    header[123] = 2                                               # millimetres
    header[148:148 + 27] = b"ctslab sample head phantom"[:27]
    header[344:348] = b"n+1\0"
    values = []
    for k in range(n):
        zc = (k - n / 2 + 0.5) / (n / 2)
        for y in range(h):
            for x in range(w):
                u = (x - w / 2 + 0.5) / (w / 2)
                v = (y - h / 2 + 0.5) / (h / 2)
                hu = head_hu(u, v, zc, (x + 2 * y + 3 * k) % 4)
                values.append(int(round((hu - inter) / slope)))
    os.makedirs(root, exist_ok=True)
    data = bytes(header) + b"\0\0\0\0" + struct.pack("<%dh" % len(values), *values)
    with open(os.path.join(root, "phantom.nii.gz"), "wb") as f:
        f.write(gzip.compress(data, 9, mtime=0))


def enhanced_ct(root):
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.sequence import Sequence
    from pydicom.uid import ExplicitVRLittleEndian

    w = h = 64
    n = 24
    pixel, spacing = 3.5, 5.0
    enhanced = "1.2.840.10008.5.1.4.1.1.2.1"
    instance = uid("ctslab sample enhanced image")
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = enhanced
    meta.MediaStorageSOPInstanceUID = instance
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.ImplementationClassUID = uid("ctslab make_samples")
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = enhanced
    ds.SOPInstanceUID = instance
    ds.ImageType = ["ORIGINAL", "PRIMARY", "AXIAL", "NONE"]
    ds.Modality = "CT"
    ds.SeriesDescription = "ctslab sample enhanced head phantom"
    ds.PatientName = "Sample^Phantom"
    ds.PatientID = "CTSLAB-SAMPLE"
    ds.StudyInstanceUID = uid("ctslab sample study")
    ds.SeriesInstanceUID = uid("ctslab sample enhanced series")
    ds.SeriesNumber = 2
    ds.InstanceNumber = 1
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.NumberOfFrames = n
    ds.Rows, ds.Columns = h, w
    ds.BitsAllocated, ds.BitsStored, ds.HighBit = 16, 12, 11
    ds.PixelRepresentation = 0

    measures = Dataset()
    measures.PixelSpacing = [pixel, pixel]
    measures.SliceThickness = spacing
    orientation = Dataset()
    orientation.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    transform = Dataset()
    transform.RescaleIntercept = -1024
    transform.RescaleSlope = 1
    transform.RescaleType = "HU"
    shared = Dataset()
    shared.PixelMeasuresSequence = Sequence([measures])
    shared.PlaneOrientationSequence = Sequence([orientation])
    shared.PixelValueTransformationSequence = Sequence([transform])
    ds.SharedFunctionalGroupsSequence = Sequence([shared])

    corner = -(w - 1) * pixel / 2
    frames = []
    pixels = []
    # Frames from the top down, as positions fall: a reader orders them.
    for f in range(n):
        k = n - 1 - f
        zc = (k - n / 2 + 0.5) / (n / 2)
        position = Dataset()
        position.ImagePositionPatient = [corner, corner, k * spacing]
        content = Dataset()
        content.InStackPositionNumber = k + 1
        frame = Dataset()
        frame.PlanePositionSequence = Sequence([position])
        frame.FrameContentSequence = Sequence([content])
        frames.append(frame)
        for y in range(h):
            for x in range(w):
                u = (x - w / 2 + 0.5) / (w / 2)
                v = (y - h / 2 + 0.5) / (h / 2)
                pixels.append(head_hu(u, v, zc, (x * 7 + y * 3 + k * 5) % 11) + 1024)
    ds.PerFrameFunctionalGroupsSequence = Sequence(frames)
    ds.PixelData = struct.pack("<%dH" % len(pixels), *pixels)
    os.makedirs(root, exist_ok=True)
    ds.save_as(os.path.join(root, "enhanced-ct.dcm"), write_like_original=False)


if __name__ == "__main__":
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
    phantom(os.path.join(top, "phantom"))
    torus(os.path.join(top, "torus"))
    text_slices(os.path.join(top, "text"))
    dicom_series(os.path.join(top, "dicom"))
    nifti_volume(os.path.join(top, "nifti"))
    enhanced_ct(os.path.join(top, "multiframe"))

#!/usr/bin/env python3
"""The command line's verdict beside what a raw read of the volume still finds.

    verdict_table.py CLI   (root: loop images, overlays)

For each file system, mount option and stacking, a file of markers is destroyed at each
level; the volume is then unmounted and its image searched for the markers."""
import os, subprocess, sys, tempfile

cli = sys.argv[1]
MARK = b"<<TABLE-%d>>"


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True)


def image_with(fs, size, mkfs=(), options=""):
    d = tempfile.mkdtemp(prefix="ovtable-")
    img, mnt = d + "/image", d + "/mnt"
    os.mkdir(mnt)
    with open(img, "wb") as f:
        f.truncate(size)
    run("mkfs." + fs, *(["-q", "-F"] if fs == "ext4" else ["-q", "-f"]), *mkfs, img)
    run("mount", "-o", "loop" + ("," + options if options else ""), img, mnt)
    return d, img, mnt


def count(img, marker):
    with open(img, "rb") as f:
        return f.read().count(marker)


def wipe(path, level):
    r = run(cli, "wipe", "-l", str(level), "--no-scramble", "--no-log", path, check=False)
    line = (r.stdout + r.stderr).decode(errors="replace").strip().splitlines()
    text = line[-1] if line else ""
    text = text.replace(path, "F")
    return r.returncode, text


def make(path, n, length, nocow=False):
    if nocow:
        open(path, "wb").close()
        run("chattr", "+C", path)
    with open(path, "wb") as f:
        f.write((MARK % n) * (length // len(MARK % n) + 1))
        f.truncate(length)


def row(name, fs, size, length, mkfs=(), options="", nocow=False, where=lambda mnt: mnt):
    for level in (1, 2, 3):
        d, img, mnt = image_with(fs, size, mkfs, options)
        try:
            folder = where(mnt)
            path = folder + "/f"
            make(path, level, length, nocow)
            run("sync")
            rc, text = wipe(path, level)
            run("sync")
            if folder != mnt:
                run("umount", folder)
            run("umount", mnt)
            left = count(img, MARK % level)
            print(f"{name:34} L{level} exit {rc} markers left {left:6}  {text[:150]}")
        finally:
            run("umount", "-R", mnt, check=False)
            run("rm", "-rf", d)


def overlay(mnt):
    for sub in ("lower", "upper", "work", "merged"):
        os.mkdir(mnt + "/" + sub)
    return mnt + "/merged", f"lowerdir={mnt}/lower,upperdir={mnt}/upper,workdir={mnt}/work"


def overlay_upper(mnt):
    merged, options = overlay(mnt)
    run("mount", "-t", "overlay", "overlay", "-o", options, merged)
    return merged


def overlay_lower_row():
    d, img, mnt = image_with("ext4", 64 << 20)
    try:
        merged, options = overlay(mnt)
        make(mnt + "/lower/f", 9, 300 * 1024)
        run("mount", "-t", "overlay", "overlay", "-o", options, merged)
        rc, text = wipe(merged + "/f", 1)
        upper = os.listdir(mnt + "/upper")
        run("umount", merged)
        run("umount", mnt)
        print(f"{'overlay, lower layer (ext4)':34} L1 exit {rc} markers left {count(img, MARK % 9):6}"
              f"  upper layer {upper}  {text[:150]}")
    finally:
        run("umount", "-R", mnt, check=False)
        run("rm", "-rf", d)


def image_on_btrfs_row(nocow):
    """ext4 in an image file on btrfs: the image is judged on btrfs."""
    d, img, mnt = image_with("btrfs", 512 << 20, options="nodiscard")
    try:
        inner = mnt + "/inner.img"
        open(inner, "wb").close()
        if nocow:
            run("chattr", "+C", inner)
        with open(inner, "wb") as f:
            f.truncate(64 << 20)
        run("mkfs.ext4", "-q", "-F", inner)
        os.mkdir(mnt + "/in")
        run("mount", "-o", "loop", inner, mnt + "/in")
        make(mnt + "/in/f", 7, 300 * 1024)
        run("sync")
        rc, text = wipe(mnt + "/in/f", 1)
        run("umount", mnt + "/in")
        run("umount", mnt)
        name = "ext4 image on btrfs" + (" (NOCOW)" if nocow else "")
        print(f"{name:34} L1 exit {rc} markers left {count(img, MARK % 7):6}  {text[:170]}")
    finally:
        run("umount", "-R", mnt, check=False)
        run("rm", "-rf", d)


K = 1024
row("ext4", "ext4", 64 << 20, 300 * K)
row("ext4 data=journal", "ext4", 64 << 20, 300 * K, options="data=journal")
row("ext4 inline_data, 800 B", "ext4", 64 << 20, 800, mkfs=("-O", "inline_data", "-I", "1024"))
row("xfs", "xfs", 320 << 20, 300 * K)
row("btrfs", "btrfs", 256 << 20, 300 * K, options="nodiscard")
row("btrfs compress=zstd", "btrfs", 256 << 20, 8 << 20, options="compress=zstd,nodiscard")
row("btrfs inline, 1000 B", "btrfs", 256 << 20, 1000, options="nodiscard")
row("btrfs NOCOW file", "btrfs", 256 << 20, 300 * K, options="nodiscard", nocow=True)
row("overlay, upper only (ext4)", "ext4", 64 << 20, 300 * K, where=overlay_upper)
overlay_lower_row()
image_on_btrfs_row(False)
image_on_btrfs_row(True)

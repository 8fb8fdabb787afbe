#!/usr/bin/python3
"""The resources of the shipped Windows binaries, read back from the files
with pefile (Debian's python3-pefile): AppUpdate.exe's manifest, icon and
version, kelvora.dll's version, both with their debug information in a
.debug file beside them that the debug link names; then both signed with a
certificate made here (the build's own signing step, cmake/windows/Sign.cmake)
and verified with osslsigncode, the resources still there, a changed byte
found out, and a failed signing leaving no unsigned binary behind.
Usage: resources-check.py <version> <AppUpdate.exe> <kelvora.dll> <cmake> <Sign.cmake> <objdump>"""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

import pefile

version, updater, dll, cmake, sign_script, objdump = sys.argv[1:7]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def resources(pe):
    """{type id: {name id: [bytes of each language]}}"""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                out.setdefault(t.id, {}).setdefault(n.id, []).append(pe.get_data(d.OffsetToData, d.Size))
    return out


def check_version(path, pe, file_name, file_type):
    name = os.path.basename(path)
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    check(strings.get("FileVersion") == version and strings.get("ProductVersion") == version,
          f"{name}: version strings {strings.get('FileVersion')}/{strings.get('ProductVersion')}, not {version}")
    check(strings.get("OriginalFilename") == file_name, f"{name}: OriginalFilename {strings.get('OriginalFilename')}")
    check(bool(strings.get("FileDescription")) and bool(strings.get("CompanyName")), f"{name}: no description or company")
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    if check(fixed is not None, f"{name}: no fixed version block"):
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
        check(".".join(map(str, numbers)) == version, f"{name}: fixed file version {numbers}")
        check(fixed.FileType == file_type, f"{name}: file type {fixed.FileType}, not {file_type}")


def check_debug_file(path, pe):
    name = os.path.basename(path)
    link = None
    for s in pe.sections:
        data = s.get_data()
        # The section's name is in the string table ("/4"): find the link by
        # its content, the debug file's name, a NUL, padding, a CRC-32.
        if data.startswith(name.encode() + b".debug\0"):
            link = data
    if not check(link is not None, f"{name}: no debug link to {name}.debug"):
        return
    end = link.index(b"\0")
    crc = int.from_bytes(link[(end + 4) & ~3:((end + 4) & ~3) + 4], "little")
    debug = path + ".debug"
    if not check(os.path.exists(debug), f"{name}: {debug} missing"):
        return
    with open(debug, "rb") as f:
        check(zlib.crc32(f.read()) == crc, f"{name}: the debug link's CRC does not match {debug}")
    sections = subprocess.run([objdump, "-h", debug], capture_output=True, text=True, check=True).stdout
    check(".debug_info" in sections and ".debug_line" in sections, f"{debug}: no .debug_info or .debug_line")
    own = subprocess.run([objdump, "-h", path], capture_output=True, text=True, check=True).stdout
    check(".debug_info" not in own, f"{name} still holds its debug information")


# AppUpdate.exe: manifest, icon, version.
pe = pefile.PE(updater)
res = resources(pe)
manifest = res.get(pefile.RESOURCE_TYPE["RT_MANIFEST"], {}).get(1)
if check(manifest is not None, "AppUpdate.exe: no manifest (resource 1 of type 24)"):
    root = ET.fromstring(manifest[0])
    text = manifest[0].decode()
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    check(levels == ["asInvoker"], f"AppUpdate.exe: execution level {levels}")
    controls = [e for e in root.iter() if e.tag.endswith("assemblyIdentity")
                and e.get("name") == "Microsoft.Windows.Common-Controls" and e.get("version") == "6.0.0.0"]
    check(len(controls) == 1, "AppUpdate.exe: no common controls 6 dependency")
    check("PerMonitorV2" in text and "true/pm" in text, "AppUpdate.exe: not per-monitor DPI aware")
    check("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" in text, "AppUpdate.exe: Windows 7 not among the supported systems")
groups = res.get(pefile.RESOURCE_TYPE["RT_GROUP_ICON"], {})
if check(bool(groups), "AppUpdate.exe: no icon"):
    group = next(iter(groups.values()))[0]
    count = int.from_bytes(group[4:6], "little")
    sizes = sorted((group[6 + 14 * i] or 256) for i in range(count))
    check({16, 32, 48, 256} <= set(sizes), f"AppUpdate.exe: icon sizes {sizes}")
    check(len(res.get(pefile.RESOURCE_TYPE["RT_ICON"], {})) == count, "AppUpdate.exe: icon images missing")
check_version(updater, pe, "AppUpdate.exe", 1)  # VFT_APP
check_debug_file(updater, pe)
pe.close()

# kelvora.dll: version.
pe = pefile.PE(dll)
check_version(dll, pe, "kelvora.dll", 2)  # VFT_DLL
check_debug_file(dll, pe)
pe.close()

# Signing, as KELVORA_SIGN does it: the updater with a certificate and key,
# the DLL with a PKCS#12 file and its password in a file.
with tempfile.TemporaryDirectory() as work:
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Kelvora test publisher", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    password = os.path.join(work, "password")
    with open(password, "w") as f:
        f.write("test password\n")
    p12 = os.path.join(work, "publisher.p12")
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12, "-passout",
                    "file:" + password], check=True, capture_output=True)
    for source, options in ((updater, ["-DCERT=" + cert, "-DKEY=" + key]),
                            (dll, ["-DCERT=" + p12, "-DPASSWORD_FILE=" + password])):
        name = os.path.basename(source)
        copy = os.path.join(work, name)
        shutil.copyfile(source, copy)
        run = subprocess.run([cmake, "-DFILE=" + copy, "-DDESCRIPTION=Kelvora test"] + options + ["-P", sign_script],
                             capture_output=True, text=True)
        if not check(run.returncode == 0, f"{name}: signing failed: {run.stdout}{run.stderr}"):
            continue
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", copy], capture_output=True, text=True)
        check(verify.returncode == 0 and "Signature verification: ok" in verify.stdout,
              f"{name}: the signature does not verify:\n{verify.stdout}{verify.stderr}")
        signed = pefile.PE(copy)
        check(pefile.RESOURCE_TYPE["RT_VERSION"] in resources(signed), f"{name}: signed, the version resource is gone")
        text_start = signed.sections[0].PointerToRawData
        signed.close()
        # One byte of code changed after signing: found out.
        with open(copy, "r+b") as f:
            f.seek(text_start + 64)
            b = f.read(1)
            f.seek(text_start + 64)
            f.write(bytes([b[0] ^ 0xFF]))
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", copy], capture_output=True, text=True)
        check(verify.returncode != 0, f"{name}: a changed byte still verifies")
    # A signing that cannot be done (the wrong password) fails the step and
    # leaves no binary that a later build could take for a signed one.
    copy = os.path.join(work, "AppUpdate.exe")
    shutil.copyfile(updater, copy)
    run = subprocess.run([cmake, "-DFILE=" + copy, "-DCERT=" + p12, "-DPASSWORD_FILE=" + key, "-P", sign_script],
                         capture_output=True, text=True)
    check(run.returncode != 0 and not os.path.exists(copy) and not os.path.exists(copy + ".signed"),
          "a failed signing did not fail, or left a binary behind")

for f in failures:
    print("resources-check: " + f)
if failures:
    sys.exit(1)
print("resources-check: OK (manifest, icon, versions, debug files, signatures)")

#!/usr/bin/env python3
"""End-to-end check of wexchannel on the real WexDownloader.exe of the build.

1. Signs the installer with a certificate made for this run (openssl +
   osslsigncode), stamps it once and twice, and checks that
   `osslsigncode verify` still finds the signed digest intact (and the PE
   checksum right) after each stamp.
2. Asks Windows' WinVerifyTrust (a small helper run under Wine) about the
   signed, stamped and a deliberately corrupted copy: the stamped files must
   keep the signed original's result, which is neither a bad digest nor "no
   signature"; the corrupted copy must give one of those two.
3. Runs the twice-stamped signed installer, and an unsigned one stamped from
   key=value options, under Wine, and reads its log: every block is found and
   the channel summary shows what the blocks imply (the older block winning a
   repeated key).

The stamping tool is either the Linux build (--stamper native) or the
Windows build run under Wine (--stamper windows). Exit status 77 (skipped)
when the Linux build of the tool has not been built.
"""
import argparse
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

TRUST_E_BAD_DIGEST = 0x80096010
TRUST_E_NOSIGNATURE = 0x800B0100
SKIPPED = 77
INSTALLER_TIMEOUT_S = 120


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(command, **kwargs):
    """Runs a host command and returns (exit code, stdout, stderr) as text."""
    done = subprocess.run(command, capture_output=True, timeout=300, **kwargs)
    return (done.returncode, done.stdout.decode("utf-8", "replace"),
            done.stderr.decode("utf-8", "replace"))


class Prefix:
    """The build's Wine prefix: host paths on its C: drive and their C:\\ names."""

    def __init__(self, root, wine_run):
        self.root = pathlib.Path(root).resolve()
        self.drive_c = self.root / "drive_c"
        self.wine_run = wine_run

    def windows_path(self, host_path):
        relative = pathlib.Path(host_path).resolve().relative_to(self.drive_c)
        return "C:\\" + "\\".join(relative.parts)

    def run(self, program, arguments):
        return run([self.wine_run, str(program)] + list(arguments))


class Stamper:
    """One build of wexchannel; paths are given as host paths."""

    def __init__(self, kind, tool, prefix):
        self.kind = kind
        self.tool = tool
        self.prefix = prefix

    def __call__(self, *arguments):
        if self.kind == "native":
            return run([self.tool] + [str(a) for a in arguments])
        converted = [self.prefix.windows_path(a) if isinstance(a, pathlib.Path) else a
                     for a in arguments]
        return self.prefix.run(self.tool, converted)


def make_certificate(folder):
    key, cert = folder / "key.pem", folder / "cert.pem"
    code, out, err = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                          "-keyout", str(key), "-out", str(cert), "-days", "2",
                          "-subj", "/CN=WexDownloader Channel Test Signing",
                          "-addext", "extendedKeyUsage=codeSigning",
                          "-addext", "keyUsage=digitalSignature"])
    check(code == 0, f"openssl req failed:\n{err}")
    return key, cert


def field(output, name):
    for line in output.splitlines():
        if line.startswith(name):
            return line.split(":", 1)[1].strip()
    return None


def osslsigncode_verify(path, cert):
    code, out, err = run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(cert)])
    text = out + err
    print(f"--- osslsigncode verify {path.name} (exit {code})")
    for line in text.splitlines():
        if any(k in line for k in ("checksum", "message digest", "verification", "Corrupted",
                                    "Succeeded", "Failed")):
            print("    " + line.strip())
    return code, text


def expect_signature_intact(path, cert):
    code, text = osslsigncode_verify(path, cert)
    check("Corrupted" not in text, f"{path.name}: osslsigncode reports a corrupted table")
    current = field(text, "Current message digest")
    calculated = field(text, "Calculated message digest")
    check(current and current == calculated,
          f"{path.name}: message digests differ: {current} vs {calculated}")
    check("Signature verification: ok" in text, f"{path.name}: signature verification not ok")
    check("invalid PE checksum" not in text, f"{path.name}: PE checksum not updated")
    check(code == 0, f"{path.name}: osslsigncode verify exit {code}")


def win_verify_trust(prefix, helper, paths):
    code, out, err = prefix.run(helper, [prefix.windows_path(p) for p in paths])
    check(code == 0, f"verify_trust failed ({code}):\n{out}\n{err}")
    results = {}
    for line, path in zip(out.splitlines(), paths):
        results[path.name] = int(line.split()[0], 16)
        print(f"--- WinVerifyTrust {path.name}: {line.split()[0]}")
    check(len(results) == len(paths), f"verify_trust printed:\n{out}")
    return results


def log_folders(prefix):
    return list(prefix.drive_c.glob("users/*/Temp/GameDownloadLog"))


def run_installer(prefix, exe, marker, expected_lines):
    """Runs `exe` under Wine and returns the text of the log that holds
    `marker`, once it shows every expected line (or the process ended)."""
    started = time.time()
    process = subprocess.Popen([prefix.wine_run, str(exe)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    text = ""
    try:
        while time.time() - started < INSTALLER_TIMEOUT_S:
            ended = process.poll() is not None
            candidates = [log for folder in log_folders(prefix) for log in folder.glob("*.log")
                          if log.stat().st_mtime >= started - 2]
            for log in sorted(candidates, key=lambda p: p.stat().st_mtime, reverse=True):
                content = log.read_bytes().decode("utf-8", "replace")
                if marker in content:
                    text = content
                    break
            if text and (ended or all(line in text for line in expected_lines)):
                break
            if ended and time.time() - started > 10 and not text:
                break
            time.sleep(0.5)
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    check(text, f"no log of {exe} holds {marker!r}")
    return text


def expect_log(text, lines):
    for line in lines:
        check(line in text, f"the installer's log lacks {line!r}:\n{text}")
        print(f"    log: {line}")


def summary_lines(pkg, supply, build, source, png):
    return [f"need install pkg [{pkg}]", f"WexDownloader inner SupplyId [{supply}]",
            f"WexDownloader inner buildid [{build}]", f"WexDownloader inner appid [{source}]",
            f"Background png number: {png}"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--installer", required=True, help="WexDownloader.exe of the build")
    parser.add_argument("--verify-trust", required=True, help="the WinVerifyTrust helper")
    parser.add_argument("--stamper", choices=("native", "windows"), required=True)
    parser.add_argument("--tool", required=True, help="wexchannel of that build")
    args = parser.parse_args()

    if not os.access(args.tool, os.X_OK):
        print(f"skipped: {args.tool} is not built")
        return SKIPPED
    prefix = Prefix(args.prefix, args.wine_run)
    stamp = Stamper(args.stamper, args.tool, prefix)
    scratch = prefix.drive_c / "wex" / "scratch" / f"wexchannel_signed_{args.stamper}"
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    tag = f"com.korvane.channel.{args.stamper}"

    # --- sign, stamp once and twice, osslsigncode --------------------------
    key, cert = make_certificate(scratch)
    original = scratch / "WexDownloader.exe"
    shutil.copyfile(args.installer, original)
    signed = scratch / "signed.exe"
    code, out, err = run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key),
                          "-n", "WexDownloader", "-h", "sha256", "-in", str(original),
                          "-out", str(signed)])
    check(code == 0, f"osslsigncode sign failed:\n{out}\n{err}")
    expect_signature_intact(signed, cert)

    first = {"pkgName": tag, "supplyid": 200205540, "buildid": 319, "sourceid": "xy",
             "bkgPngNumber": 3, "createMarketIcon": True, "title": "Arena Mobile Title",
             "gameName": "Arena Mobile"}
    first_text = json.dumps(first, separators=(",", ":"))
    channel = scratch / "channel.json"
    channel.write_text(json.dumps(first, indent=2))
    stamped1, stamped2 = scratch / "stamped1.exe", scratch / "stamped2.exe"
    code, out, err = stamp("stamp", signed, "-o", stamped1, "--json", channel)
    print(f"--- stamp 1 (exit {code})\n{out}{err}")
    check(code == 0, "the first stamp failed")
    check(first_text in out, "the first stamp did not embed the document as given")
    check(not list(scratch.glob(".*.tmp")), "temporary file left beside the output")

    code, out, err = stamp("stamp", stamped1, "-o", stamped2, "--set", "pkgName=shadowed.pkg",
                           "--set", "area=eu", "--set", "bkgPngNumber=7")
    print(f"--- stamp 2 (exit {code})\n{out}{err}")
    check(code == 0, "the second stamp failed")
    second_text = '{"pkgName":"shadowed.pkg","area":"eu","bkgPngNumber":7}'
    check(second_text in out, "the second stamp did not embed the --set document")
    for key_name in ("pkgName", "bkgPngNumber"):
        check(f'key "{key_name}" of the new block is shadowed' in err,
              f"no shadow warning for {key_name}")
    check('"area" of the new block' not in err, "area is shadowed by nothing")

    for path in (stamped1, stamped2):
        expect_signature_intact(path, cert)

    code, out, err = stamp("inspect", stamped2)
    print(f"--- inspect stamped2 (exit {code})\n{out}{err}")
    check(code == 0, "inspect found problems in the stamped file")
    check("channel blocks, nearest the end of the file first: 2" in out, "inspect lists 2 blocks")

    # A byte of the signed content changed: the digest must no longer hold.
    corrupted = scratch / "corrupted.exe"
    data = bytearray(stamped2.read_bytes())
    data[len(data) // 3] ^= 0xFF
    corrupted.write_bytes(data)
    code, text = osslsigncode_verify(corrupted, cert)
    check(code != 0, "osslsigncode accepts the corrupted copy")

    # --- WinVerifyTrust under Wine ------------------------------------------
    trust = win_verify_trust(prefix, args.verify_trust,
                             [original, signed, stamped1, stamped2, corrupted])
    check(trust["WexDownloader.exe"] == TRUST_E_NOSIGNATURE,
          "WinVerifyTrust should find no signature on the unsigned build")
    for name in ("signed.exe", "stamped1.exe", "stamped2.exe"):
        check(trust[name] not in (TRUST_E_BAD_DIGEST, TRUST_E_NOSIGNATURE),
              f"WinVerifyTrust: {name} gave 0x{trust[name]:08X}")
        check(trust[name] == trust["signed.exe"],
              f"WinVerifyTrust: {name} gave 0x{trust[name]:08X}, the signed original "
              f"0x{trust['signed.exe']:08X}")
    check(trust["corrupted.exe"] in (TRUST_E_BAD_DIGEST, TRUST_E_NOSIGNATURE),
          f"WinVerifyTrust: the corrupted copy gave 0x{trust['corrupted.exe']:08X}")

    # --- the installer reads the blocks -------------------------------------
    installed = prefix.drive_c / "wex" / "stamped" / f"signed_{args.stamper}" / "WexDownloader.exe"
    shutil.rmtree(installed.parent, ignore_errors=True)
    installed.parent.mkdir(parents=True)
    shutil.copyfile(stamped2, installed)
    # The block further from the end (the first stamp) wins pkgName and
    # bkgPngNumber; area comes from the second.
    expected = ["find the inject data: " + second_text, "find the inject data: " + first_text,
                "check magic failed or length is zero"] + summary_lines(tag, 200205540, 319, "xy", 3)
    print(f"--- installer log, signed and stamped twice ({args.stamper})")
    text = run_installer(prefix, installed, "find the inject data: " + first_text, expected)
    expect_log(text, expected)
    check(text.index(expected[0]) < text.index(expected[1]), "blocks read from the end")

    unsigned_tag = tag + ".unsigned"
    unsigned = prefix.drive_c / "wex" / "stamped" / f"unsigned_{args.stamper}" / "WexDownloader.exe"
    shutil.rmtree(unsigned.parent, ignore_errors=True)
    unsigned.parent.mkdir(parents=True)
    code, out, err = stamp("stamp", original, "-o", unsigned, "--set", f"pkgName={unsigned_tag}",
                           "--set", "supplyid=42", "--set", "buildid=18446744073709551615",
                           "--set", "sourceid=ab", "--set", "bkgPngNumber=1")
    print(f"--- stamp unsigned (exit {code})\n{out}{err}")
    check(code == 0, "stamping the unsigned installer failed")
    unsigned_text = (f'{{"pkgName":"{unsigned_tag}","supplyid":42,"buildid":18446744073709551615,'
                     '"sourceid":"ab","bkgPngNumber":1}')
    expected = ["find the inject data: " + unsigned_text] + summary_lines(
        unsigned_tag, 42, 18446744073709551615, "ab", 1)
    print(f"--- installer log, unsigned and stamped once ({args.stamper})")
    text = run_installer(prefix, unsigned, "find the inject data: " + unsigned_text, expected)
    expect_log(text, expected)

    shutil.rmtree(scratch, ignore_errors=True)
    for path in (installed.parent, unsigned.parent):
        shutil.rmtree(path, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)

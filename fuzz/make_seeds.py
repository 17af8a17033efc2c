#!/usr/bin/env python3
"""Writes the hand-made seed corpora of the fuzz targets (all but
controller_replies, which build/fuzz/fuzz_seed_replies makes from the
emulator). reply_decode's seeds are reply sectors cut from those.
   fuzz/make_seeds.py            (from the repository's top folder)"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def replies(scenario):
    with open(os.path.join(CORPUS, "controller_replies", scenario), "rb") as f:
        data = f.read()
    return [data[k + 1:k + 513] for k in range(0, len(data), 513)]


# reply_decode: control byte + one reply sector of the emulator.
raid1 = replies("raid1")
rebuild = replies("rebuild")
write("reply_decode", "identify", b"\x00" + raid1[0])
write("reply_decode", "information", b"\x03" + raid1[1])
write("reply_decode", "rebuild-array", b"\x01" + rebuild[-1])
write("reply_decode", "smart-split", b"\x80" + raid1[-1] + raid1[-2])
write("reply_decode", "short", b"\x02" + raid1[3][:100])

# firmware_file: control byte, identify bytes 0..63, file.
identify = bytearray(64)
identify[46:50] = struct.pack("<I", 0x13122501)
identify[50:52] = b"\x50\x01"
header = bytearray(0x400)
header[0x80:0x84] = b"VEXT"
header[0x84:0x94] = bytes([0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47,
                           0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84])
header[0x9C:0xA0] = struct.pack("<I", 0x13122501)
header[0xA0:0xA2] = b"\x50\x01"
# The configuration block at L = 0x100, its 16-bit sum in its last two bytes.
header[16:19] = (0x100).to_bytes(3, "little")
header[0x1FE:0x200] = (sum(header[0x100:0x1FE]) & 0xFFFF).to_bytes(2, "little")
write("firmware_file", "matching", b"\x00" + identify + header)
write("firmware_file", "short-reads", b"\x06" + identify + header)
write("firmware_file", "port-multiplier", b"\x09" + identify + header[:0x200])
write("firmware_file", "too-short", b"\x00" + identify + header[:0x90])
write("firmware_file", "config-block-cut", b"\x00" + identify + header[:0x180])

# image_builder: number fields, size digit, file names, NUL, file bytes.
boot = bytearray(0x100)
boot[16:19] = (0x30000).to_bytes(3, "little")
write("image_builder", "boot-and-two", "1,2000,1,50\n0\nSPIHEAD.BIN\nSUB_1A.BIN\nSUB_02.BIN\n\0"
      .encode() + bytes(boot) * 3)
write("image_builder", "hex-fields", "2,7D0H,3,32h\n2\nspihead.bin\nFW_11.BIN\n\0".encode()
      + bytes(boot) * 2)
write("image_builder", "refused-field", "16,99999,x,-3\n9\nSUB\n\0".encode())

# reg_file: exports as the registry editor and this program write them.
reg = ("Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
       "\"SMTP Server\"=\"mail.example.org\"\r\n"
       "\"Port\"=dword:00000019\r\n"
       "\"Security\"=\"STARTTLS\"\r\n"
       "\"Password\"=hex:01,02,fe,\\\r\n  FF,00,11\r\n"
       "\"Wide\"=hex(1):41,00,e4,00,00,00\r\n"
       "@=\"default\"\r\n"
       "\"Gone\"=-\r\n")
write("reg_file", "ascii", reg)
write("reg_file", "utf16", b"\xff\xfe" + reg.encode("utf-16-le"))
write("reg_file", "not-an-export", "[K]\r\n\"A\"=\"1\r\n")

# smtp_reply: what mail servers send.
write("smtp_reply", "greeting", "220 mail.example.org ESMTP ready\r\n")
write("smtp_reply", "ehlo", "250-mail.example.org\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n"
      "250-AUTH PLAIN LOGIN CRAM-MD5\r\n250-STARTTLS\r\n250 8BITMIME\r\n")
write("smtp_reply", "auth", "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 2.7.0 ok\r\n")
write("smtp_reply", "errors", "530 5.7.0 Must issue a STARTTLS command first\n421 bye\r\n")

# template_file: subjects and bodies as people write them.
write("template_file", "subject", "RAID alarm: a disk failed\r\n")
write("template_file", "body-crlf", "Hello,\r\n\r\none disk of the mirror failed.\r\n.\r\n..dots\r\n")
write("template_file", "latin1", "Gr\xfc\xdfe\nTemperatur \xfcber 50 \xb0C\n")
write("template_file", "long-line", "x" * 1200 + "\r\n" + "\xc3\xa4" * 600)

# log_file: day logs, written with CR LF, read with either.
log = ("2026/12/07 09:00:01 Device1 HDD1 : Ready\r\n"
       "2026/12/07 09:00:01 Device1 HDD2 : Ready\r\n"
       "2026/12/07 09:13:45 Device1 HDD2 : Removed\r\n")
write("log_file", "crlf", "\x40" + log)
write("log_file", "lf-unended", "\x07" + log.replace("\r\n", "\n") + "partial")
write("log_file", "damaged", "\x00" + "a\0b\r\r\n\n\r" + "y" * 300)

# raidctl_args: command lines, NUL between arguments.
for name, args in [
        ("status", ["status", "--json", "--simulate=raid1"]),
        ("query", ["query", "/dev/sdb", "0x78", "33", "ef", "df"]),
        ("backup", ["backup-period", "0", "3", "12"]),
        ("flash", ["flash", "0", "fw.bin", "--backup", "old.bin", "--yes"]),
        ("make-bin", ["make-bin", "--out", "out.bin", "--boot", "SPIHEAD.BIN", "--sub",
                      "SUB_1A.BIN:1AH:TRUE", "--sub", "SUB_02.BIN", "--size", "2M", "--setting",
                      "fans=2", "--seed", "7"]),
        ("monitor", ["monitor", "--once", "--metrics", "raid.prom", "--interval-ms", "5000", "--polls", "3"]),
        ("help", ["flash", "--help"])]:
    write("raidctl_args", name, "\0".join(args))

#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<harness>/: a few small inputs
per harness that reach its main roads, so short runs start deep."""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def crc16(data):
    if not data:
        return 0
    reg = 0xFFFF
    for byte in data:
        reg ^= byte
        for _ in range(8):
            reg = (reg >> 1) ^ 0x1021 if reg & 1 else reg >> 1
    reg = ~reg & 0xFFFF
    return ((reg << 8) | (reg >> 8)) & 0xFFFF


def rec(address, rtype, data):
    line = ":%02X%04X%02X" % (len(data), address, rtype)
    return line + "".join("%02X" % b for b in data) + "FF\r\n"


def package(ftype, body, min_address=0, crc=None):
    crc = crc16(body) if crc is None else crc
    return (b"A" + bytes([ftype]) + struct.pack("<IIH", min_address, len(body), crc) + body)


def write(harness, seeds):
    folder = os.path.join(CORPUS, harness)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("latin-1")
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def hex_seeds():
    full = bytes([0x5A] * 32)
    byte_mode = {
        "worked": ":0400100001020304E2\r\n:020000021000EC\r\n:03000000AABBCCCC\r\n:00000001FF\r\n",
        "past-20000": ":020000022000DC\r\n:01001000559A\r\n",
        "at-20000": rec(0, 2, [0x20, 0]) + rec(0, 0, full),
        "length-33": rec(0, 0, [1] * 33),
        "eof-then-data": rec(0, 1, []) + rec(0x40, 0, [1, 2]) + rec(0x20, 0, [3]),
        "linear": rec(0, 2, [0, 0x10]) + rec(0, 4, [0xFF, 0xFF]) + rec(0x20, 0, [0x77]),
        "blank-lower": "\r\n:01002a00ff00\r\n   \t\n",
        "long-line": ":0100200077" + "X" * 244 + rec(0x30, 0, [0x55]),
        "no-data": rec(0, 1, []),
        "length-0": rec(0x50, 0, []),
        "linear-1": rec(0, 4, [0, 1]) + rec(0x10, 0, [0xAB]),
        "dos-end": rec(0x20, 0, [5]) + "\x1a\x1a \r\n\x1a",
        "cut-record": rec(0x20, 0, [5]) + ":0100300\r\n",
    }
    word_mode = {
        "worked": ":04001000A1B2C3D402\r\n:04001200E5F60718F0\r\n:00000001FF\r\n",
        "four-digits": ":020010001122334444\r\n",
        "segment-0100": rec(0, 2, [1, 0]) + rec(0, 0, [0x12, 0x34]),
        "gap": rec(0x10, 0, [0x11, 0x22]) + rec(0x14, 0, [0x33, 0x44]),
        "odd": rec(0x10, 0, [0x55]),
        "top": rec(0, 2, [0x0B, 0xFF]) + rec(0x1C, 0, [1, 2, 3, 4]),
        "past-top": rec(0, 2, [0x0C, 0]) + rec(0, 0, [1, 2]),
        "no-data": rec(0, 1, []),
        "linear-1": rec(0, 4, [0, 1]) + rec(0, 0, [0x12, 0x34]),
        "linear-wrap": rec(0, 0, [1, 2]) + rec(0, 4, [0xFF, 0xFF]) + rec(0xFFF0, 0, [1] * 32),
    }
    write("hex_byte", byte_mode)
    write("hex_word", word_mode)


def update_file_seeds():
    # Control byte: bit 0 packaged, bits 1-3 preset fileType, high nibble
    # 0xF stretches the file to a size at the buffer's limits.
    body = bytes((i * 5 + 3) & 0xFF for i in range(1288))
    packaged = 0x01
    seeds = {
        "main-package": bytes([packaged]) + package(2, body),
        "dsp-package-min": bytes([packaged]) + package(3, body[:264], min_address=0x10),
        "type-1": bytes([packaged]) + package(1, body[:264]),
        "type-80": bytes([packaged]) + package(0x80, body[:264]),
        "bad-crc": bytes([packaged]) + package(2, body[:264], crc=0x1234),
        "empty-body": bytes([packaged]) + package(2, b"", crc=0),
        "cut-crc": bytes([packaged]) + package(2, b"", crc=0x55)[:11],
        "magic-a": bytes([packaged]) + b"a" + package(2, body[:264])[1:],
        "raw-java": bytes([5 << 1]) + body[:1000],
        "raw-html": bytes([6 << 1]) + body[:1000],
        "raw-logo-empty": bytes([4 << 1]),
    }
    # Stretched files: the content repeated up to the size that the last
    # byte picks (see the harness), around the buffer's limits.
    stretch = 0xF0
    for pick in range(8):
        seeds["raw-java-big-%d" % pick] = bytes([stretch | 5 << 1]) + body[:299] + bytes([pick])
        seeds["raw-html-big-%d" % pick] = bytes([stretch | 6 << 1]) + body[:299] + bytes([pick])
        seeds["package-big-%d" % pick] = bytes([stretch | packaged]) + package(2, body[:52])[:-1] + bytes([pick])
    write("update_file", seeds)


def transfer_seeds():
    # Header: control (bit 0 packaged, bit 1 partial encryption, bits 2-4
    # type: main, dsp, logo, java, html, 1, 7), u16 size, lower bound.
    # Then one byte per answer: 3 acknowledges the outstanding packet.
    main, dsp, logo, java, html, one = 0, 1, 2, 3, 4, 5
    ack = b"\x03"

    def head(kind, packaged, size, low=0, partial=True):
        control = (1 if packaged else 0) | (2 if partial else 0) | kind << 2
        return bytes([control]) + struct.pack("<H", size) + bytes([low])

    seeds = {
        "packaged-main-1288": head(main, True, 1288) + ack * 3,
        "packaged-main-ea": head(main, True, 8 + 9 * 256, partial=False) + b"\x00" + ack * 4,
        "plain-main-101": head(main, False, 0x101) + ack * 2,
        "plain-main-top": head(main, False, 300, low=0xFF) + ack * 3,
        "plain-java-1002": head(java, False, 1002) + b"\x05\x05" + ack * 2,
        "plain-dsp": head(dsp, False, 4, low=2) + ack * 2,
        "packaged-dsp-264": head(dsp, True, 264) + ack * 2,
        "dsp-too-large": head(dsp, True, 25600) + ack,
        "packaged-logo-faults": head(logo, True, 10)
        + b"\x00\x01\x02\x07\x10\x08\x05\x08\x04\xfc" + ack * 5,
        "packaged-html": head(html, True, 2000) + ack * 101,
        "nack-password": head(main, True, 1288) + b"\x05\x04",
        "nack-crc": head(main, True, 1288) + ack + b"\x05\x06",
        "nack-version": head(java, False, 1002) + b"\x05\x08",
        "finish-nack": head(main, True, 8) + b"\x05\x05",
        "finish-timeout": head(main, True, 8) + b"\x00",
        "finish-other-code": head(main, True, 8) + b"\x09\x07\x00",
        "type-1": head(one, True, 600) + ack,
        "no-hex-data": head(main, False, 0xFFFF) + ack,
    }
    write("transfer", seeds)


def command_line_seeds():
    def argv(*words):
        return b"\0".join(w.encode("latin-1") for w in words)

    long = "x" * 300
    seeds = {
        "send": argv("-IP", "10.0.0.20", "-P", "pw", "-f", "main.enc"),
        "plain-type": argv("-NE", "-T", "M", "-f", "a.hex", "-K", "secret"),
        "bad-type": argv("-NE", "-T", "Q"),
        "listen": argv("/no", "-v"),
        "missing-value": argv("-f"),
        "ea-upper": argv("-EA", "-ip", "1.2.3.4", "/K", long),
        "long-fields": argv("-IP", long, "-P", long, "-f", long),
        "unknown": argv("-Z"),
        "not-option": argv("main.enc"),
    }
    write("command_line", seeds)


def debug_line_seeds():
    def head(day, hour, minute, second, no_sender, ip, small):
        return (struct.pack("<HHHH", day, hour, minute, second) + bytes([no_sender]) +
                bytes(ip) + bytes([small]))

    seeds = {
        "plain": head(7, 9, 5, 3, 0, [192, 0, 2, 20], 200) + b"boot ok",
        "escape": head(31, 23, 59, 59, 0, [255] * 4, 5) + b"\x1b[2Jred\x07\t\r\n\x7f\xc3\xa9",
        "no-sender": head(1, 0, 0, 0, 1, [0] * 4, 0) + b"100% %s %d",
        "worst": head(65535, 65535, 65535, 65535, 0, [255] * 4, 255) + b"\x01" * 256,
        "zero-inside": head(2, 2, 2, 2, 0, [10, 0, 0, 1], 40) + b"before\0after",
        "c1": head(3, 3, 3, 3, 0, [10, 0, 0, 2], 9) + b"\xc2\x9b2J\xc2\xa0\xc2\xc2\x80\x9b\xc2",
    }
    write("debug_line", seeds)


def device_list_seeds():
    seeds = {
        "plain": "address\n127.0.0.1\n127.0.0.2\n",
        "spreadsheet": "\xef\xbb\xbf Address ; PASSWORD;File;Whole\r\n  # cabinet A\r\n"
        ";; ;\t;\r\n127.0.3.13 ; pw ; java.enc ; FALSE\r\n127.0.3.14;\" pw \";java.enc;No\r\n",
        "columns": "address,password,file,type,whole\n10.0.0.1,\"p,\"\"w\",a.hex,M,yes\n"
        "10.0.0.2,,\"multi\nline.jar\",J,0\n",
        "hash-device": "password,address,file\n#pw,127.0.0.2,java.enc\n\"#pw\",127.0.0.1,j.enc\n",
        "duplicate": "address\n127.0.0.1\n# note\n127.0.0.1\n",
        "cr-only": "address,file\r127.0.0.1,java.enc\r",
        "utf16": "\xff\xfea\0d\0",
        "utf16-no-mark": "a\0d\0",
        "unnamed": "address,file,,\n127.0.0.1,java.enc,,\n",
        "bad-cells": "address,type,whole\n127.0.0.300,X,maybe\n127.0.5.010,,\n0.1.2.3\n",
    }
    write("device_list", seeds)


def password_file_seeds():
    seeds = {
        "crlf": "pw\r\nnot the password\n",
        "mark": "\xef\xbb\xbfpw\r\n",
        "empty-line": "\r\npw\n",
        "lone-cr": "p\rw",
        "mark-only": "\xef\xbb\xbf",
        "utf16": "\xff\xfep\0w\0\r\0\n\0",
    }
    write("password_file", seeds)


def ledger_reader_seeds():
    run = '{"line":"run","run":"r1","site":"north","addresses":["10.0.0.1","10.0.0.2"]}\n'
    device = ('{"run":"r1","address":"10.0.0.1","file":"main.enc","result":"updated",'
              '"reason":"","sha256":"aa","type":"M","whole":false,"packaged":true}\n')
    end = '{"line":"end","run":"r1","ended":"completed","updated":1}\n'
    seeds = {
        "whole-run": run + device + end,
        "torn-tail": run + device + '{"add',
        "nul-tail": run + device + "\0" * 12,
        "torn-then-run": run + '{"address":"10.0.0.2","fi\n' + run,
        "mark": "\xef\xbb\xbf" + run + device,
        "utf16": "\xff\xfe{\0\"\0",
        "older-line": '{"address":"10.0.0.1","file":"a\\tb.enc","result":"failed","reason":"no reply"}\n',
        "two-sites": run + device + run.replace("r1", "r2").replace("north", "south")
        + device.replace("r1", "r2").replace("updated", "not started"),
    }
    write("ledger_reader", seeds)


if __name__ == "__main__":
    hex_seeds()
    update_file_seeds()
    transfer_seeds()
    command_line_seeds()
    debug_line_seeds()
    device_list_seeds()
    password_file_seeds()
    ledger_reader_seeds()

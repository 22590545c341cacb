#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets to fuzz/corpus/<target>/, one file per case.

Each seed is a well-formed input of its target's format, so that the fuzzer starts from the
paths a real instrument takes (whole sessions, replies, images) instead of having to find the
frame layouts by chance. Run it again after changing a target's input format.
"""
import pathlib
import shutil

ROOT = pathlib.Path(__file__).resolve().parent
SOH, STX, EOT, ACK, NAK, CAN = 0x01, 0x02, 0x04, 0x06, 0x15, 0x18


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def block(number, payload, checksum=False, header=SOH):
    size = 128 if header == SOH else 1024
    payload = payload.ljust(size, b"\x1a")
    frame = bytes([header, number & 0xFF, 0xFF - (number & 0xFF)]) + payload
    if checksum:
        return frame + bytes([sum(payload) & 0xFF])
    crc = crc16(payload)
    return frame + bytes([crc >> 8, crc & 0xFF])


def chunked(options, *chunks):
    """fuzz_xfer's input: an options byte, then chunks of (length byte, bytes)."""
    out = bytearray([options])
    for chunk in chunks:
        while True:  # a chunk longer than 255 bytes goes out as several, as a line would split it
            out.append(min(len(chunk), 255))
            out += chunk[:255]
            chunk = chunk[255:]
            if not chunk:
                break
    return bytes(out)


def sample():
    return (ROOT.parent / "data" / "sample.bin").read_bytes()


def xfer_seeds():
    one, two = sample()[:128], sample()[128:248]
    return {
        "crc_one_block": chunked(0, block(1, one), bytes([EOT]), bytes([EOT])),
        "checksum_two_blocks": chunked(1, block(1, one, True), block(2, two, True), bytes([EOT])),
        "duplicate_block": chunked(0, block(1, one), block(1, one), block(2, two), bytes([EOT])),
        "bad_crc_then_resend": chunked(0, block(1, one)[:-1] + b"\x00", block(1, one), bytes([EOT])),
        "short_block_then_resend": chunked(0, block(1, one)[:70], block(1, one), bytes([EOT])),
        "bad_number_pair": chunked(0, bytes([SOH, 1, 0x00]) + one.ljust(130, b"\0"), block(1, one), bytes([EOT])),
        "out_of_sequence": chunked(0, block(1, one), block(3, two), bytes([EOT])),
        "noise_then_block": chunked(0, b"\x55\xaa" * 40, block(1, one), bytes([EOT])),
        "sender_cancels": chunked(0, block(1, one), bytes([CAN, CAN])),
        "single_can": chunked(0, bytes([CAN]), block(1, one), bytes([EOT])),
        "eot_at_once": chunked(0, bytes([EOT]), bytes([EOT])),
        "carrier_watch": chunked(6, block(1, one), bytes([EOT])),
        "one_k_block_split": chunked(0, block(1, sample()[:1024], header=STX), bytes([EOT])),
        "block_255_wraps": chunked(1, block(255, one, True), block(0, two, True), bytes([EOT])),
    }


def read_line_seeds():
    def feed(capacity, terminator, chunk, timeout, *pieces):
        out = bytearray([capacity, terminator, chunk, timeout])
        for delay, text in pieces:
            out += bytes([delay, len(text)]) + text
        return bytes(out)

    return {
        "line_lf": feed(20, 0, 1, 1, (0, b"KLV480 - 4711\n"), (10, b"OK\n")),
        "line_crlf": feed(20, 4, 2, 2, (0, b"State: locked\r\n")),
        "overflow": feed(3, 0, 0, 3, (0, b"ABCDEF\n")),
        "slow_bytes": feed(19, 0, 3, 1, (90, b"O"), (90, b"K"), (250, b"\n")),
        "timeout_mid_line": feed(20, 0, 1, 1, (0, b"AB\r"), (255, b"\n")),
    }


def device_seeds():
    system = (b"KLV480 - 4711\n\rFirmware: 3.07 (2004-11-18)\n\rPCB: 12\n\rMemory: 49152 bytes\n\r"
              b"Used: 3712 bytes, 309 records\n\rDownloads since erase: 3\n\r")
    return {
        "system_reply": system,
        "system_reply_crlf": system.replace(b"\n\r", b"\r\n"),
        "download_reply": b"3 1d 8f3c",
        "download_refused": b"BAD",
        "hex_and_octal": b"0x1f 017 -42",
    }


def report_seeds():
    image = sample()
    return {
        "sample_metric_ascii": bytes([0x05]) + image,
        "sample_imperial_csv_absolute": bytes([0x02]) + image,
        "sample_cut_short": bytes([0x07]) + image[:1001],
        "empty_image": bytes([0x01]),
    }


def main():
    corpora = {
        "fuzz_xfer": xfer_seeds(),
        "fuzz_read_line": read_line_seeds(),
        "fuzz_device_replies": device_seeds(),
        "fuzz_report": report_seeds(),
    }
    for target, seeds in corpora.items():
        folder = ROOT / "corpus" / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()

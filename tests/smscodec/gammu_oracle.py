#!/usr/bin/python3
"""The GSM codec judged by an independent one, Debian's python3-gammu.

Both ways, over random texts of the GSM alphabet with its extension table,
Latin, Cyrillic, CJK and emoji, 0 to 1,000 characters long:

- every PDU that `velmo pdu encode --full --parts 255` makes decodes in
  gammu, its user data holds at most 140 octets, the parts' headers agree
  (one reference, the count, the numbers in order), and the parts' texts
  joined give the text back;
- every PDU gammu makes (GSM 7-bit, UCS2 and 8-bit data, with and without a
  concatenation header) decodes in `velmo pdu decode` to gammu's own
  reading of it, header included.

- every SMS-STATUS-REPORT made of random fields (reference, recipient,
  both time stamps with their zones, TP-ST, with and without a parameter
  indicator) reads in `velmo pdu decode` as gammu reads it: the reference,
  the recipient, the local times and the status, and our zone's offset as
  it was written.

Usage: gammu_oracle.py VELMO [COUNT] [SEED]. Exit 0 when all agree; the
first disagreements are printed and the exit is 1. Exit 77 (skipped) when
python3-gammu is not installed.
"""
import datetime
import random
import subprocess
import sys

try:
    import gammu
except ImportError:
    print("python3-gammu is not installed: the oracle is skipped")
    sys.exit(77)

GSM_BASIC = ("@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
             "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà")
GSM_EXTENSION = "^{}\\[~]|€"
OTHERS = {
    "latin": "áâãêëíîïóôõúûýÿçðþ«»°±²µ¶·ºœŠšŽžŸ",
    "cyrillic": "абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМН",
    "cjk": "日本語中文漢字한국어の東京大阪",
    "emoji": "😀😃🎉🚀👍❤🔥💬",
}
NUMBER = "+491711234567"
HEADER_OCTETS = 15  # 00, first octet, reference, length, type, 6 octets of digits, PID, DCS, VP, UDL


def random_text(rng):
    length = rng.choice([rng.randint(0, 20), rng.randint(100, 200), rng.randint(140, 480), rng.randint(0, 1000)])
    kind = rng.random()
    if kind < 0.45:
        pool = GSM_BASIC
    elif kind < 0.7:
        pool = GSM_BASIC * 4 + GSM_EXTENSION
    else:
        # gammu reads a tilde in UCS2 as two and drops the last character, so
        # the texts that go out in UCS2 leave it out.
        pool = GSM_BASIC + GSM_EXTENSION.replace("~", "") + \
            "".join(OTHERS[k] for k in rng.sample(sorted(OTHERS), rng.randint(1, 4)))
    return "".join(rng.choice(pool) for _ in range(length))


def gammu_text(sms):
    # gammu counts a 7-bit text in septets and fills the characters an escape
    # saved with NULs (and, past the first part, stray memory); no character
    # of the alphabet is U+0000, so the text ends at the first NUL.
    return sms["Text"].split("\x00")[0]


def run(args):
    # Bytes, not text mode: text mode would turn a carriage return in a
    # message into a line end.
    result = subprocess.run(args, capture_output=True)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8", "replace")


def check_ours(velmo, text, failures):
    code, out, err = run([velmo, "pdu", "encode", "--full", "--parts", "255", NUMBER, text])
    if code != 0:
        failures.append(f"encode failed ({code}): {err.strip()} for {text!r}")
        return
    pdus = [line.split("\t")[0] for line in out.split("\n") if line]
    texts, references = [], set()
    for number, pdu in enumerate(pdus, start=1):
        data = bytes.fromhex(pdu)
        if len(data) - HEADER_OCTETS > 140:
            failures.append(f"part {number} holds {len(data) - HEADER_OCTETS} octets of user data: {pdu}")
        try:
            sms = gammu.DecodePDU(data, True)
        except gammu.GSMError as e:
            failures.append(f"gammu cannot read part {number} ({e}): {pdu} for {text!r}")
            return
        udh = sms["UDH"]
        if len(pdus) > 1:
            if udh["Type"] != "ConcatenatedMessages" or udh["AllParts"] != len(pdus) or udh["PartNumber"] != number:
                failures.append(f"part {number} of {len(pdus)} has the header {udh}")
            references.add(udh["ID8bit"])
        elif udh["Type"] != "NoUDH":
            failures.append(f"a single part with the header {udh}")
        if sms["Number"] != NUMBER:
            failures.append(f"gammu reads the recipient {sms['Number']!r}")
        texts.append(gammu_text(sms))
    if len(references) > 1:
        failures.append(f"parts with the references {references}")
    if "".join(texts) != text:
        failures.append(f"gammu reads {''.join(texts)!r} for {text!r}")


def deliver(template, **changes):
    message = dict(template)
    message.update(changes)
    message.update(SMSC={"Location": 0, "Number": "+491700000000"}, Number=NUMBER, Type="Deliver",
                   DateTime=datetime.datetime(2026, 12, 8, 10, 0, 0))
    return gammu.EncodePDU(message, "Deliver")


def check_theirs(velmo, pdu, failures):
    sms = gammu.DecodePDU(pdu, True)
    code, out, err = run([velmo, "pdu", "decode", pdu.hex()])
    if code != 0:
        failures.append(f"decode failed ({code}): {err.strip()} for {pdu.hex()}")
        return
    lines = out.split("\n")
    if sms["Coding"] == "8bit":
        expected = "".join(chr(b) for b in sms["Text"])
    else:
        expected = gammu_text(sms)
    # Our text may hold line ends: the address is the first line, the header line the last.
    header = next((line for line in lines if line.startswith("header ")), None)
    body = out[len(lines[0]) + 1:]
    for line in [l for l in lines if l.startswith(("header ", "SMS-DELIVER,"))]:
        body = body.replace(line + "\n", "")
    body = body[:-1] if body.endswith("\n") else body
    if lines[0] != NUMBER:
        failures.append(f"we read the sender {lines[0]!r} in {pdu.hex()}")
    if body != expected:
        failures.append(f"we read {body!r} where gammu reads {expected!r} in {pdu.hex()}")
    udh = bytes(sms["UDH"]["Text"])
    if udh and (header is None or not header.startswith("header " + udh[1:].hex().upper())):
        failures.append(f"we show {header!r} for the header {udh.hex()} in {pdu.hex()}")
    if udh and sms["UDH"]["Type"] == "ConcatenatedMessages" and header and \
            f"part {sms['UDH']['PartNumber']} of {sms['UDH']['AllParts']}" not in header:
        failures.append(f"we show {header!r} for part {sms['UDH']['PartNumber']} of {sms['UDH']['AllParts']}")


def swapped(value):
    return f"{value % 10}{value // 10}"


def random_stamp(rng):
    # gammu reads the years past 2080 as ten years less: the stamps keep to 2000-2079.
    when = datetime.datetime(2000, 1, 1) + datetime.timedelta(seconds=rng.randrange(80 * 365 * 86400))
    quarters = rng.randint(0, 79)
    west = rng.random() < 0.4
    digits = "".join(swapped(v) for v in (when.year % 100, when.month, when.day, when.hour, when.minute, when.second))
    zone = f"{quarters % 10}{(quarters // 10) | (8 if west else 0):X}"
    return digits + zone, when, (-quarters if west else quarters) * 15


def random_report(rng):
    reference = rng.randrange(256)
    digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(3, 15)))
    international = rng.random() < 0.7
    padded = digits + "F"
    packed = "".join(padded[i + 1] + padded[i] for i in range(0, len(digits), 2))
    address = f"{len(digits):02X}{'91' if international else '81'}{packed}"
    taken, taken_at, taken_offset = random_stamp(rng)
    done, done_at, done_offset = random_stamp(rng)
    status = rng.choice([rng.randrange(256), rng.randrange(0x20), 0x46, 0x21])
    tail = rng.choice(["", "", "00", "03" + "00" + "00", "01" + "7F"])
    first = rng.choice(["06", "02", "26", "46" if not tail else "06"])
    smsc = rng.choice(["00", "07919471000000F0"])
    pdu = smsc + first + f"{reference:02X}" + address + taken + done + f"{status:02X}" + tail
    expected = {"reference": reference, "recipient": ("+" if international else "") + digits, "status": status,
                "taken": taken_at, "taken_offset": taken_offset, "done": done_at, "done_offset": done_offset}
    return pdu, expected


def offset_text(minutes):
    sign = "-" if minutes < 0 else "+"
    return f"{sign}{abs(minutes) // 60:02d}:{abs(minutes) % 60:02d}"


def check_report(velmo, pdu, expected, failures):
    try:
        sms = gammu.DecodePDU(bytes.fromhex(pdu))
    except gammu.GSMError as e:
        failures.append(f"gammu cannot read the report {pdu} ({e})")
        return
    code, out, err = run([velmo, "pdu", "decode", pdu])
    if code != 0:
        failures.append(f"decode of the report failed ({code}): {err.strip()} for {pdu}")
        return
    fields = dict(line.split(" ", 1) for line in out.split("\n")[1:] if " " in line)
    theirs = {"reference": sms["MessageReference"], "recipient": sms["Number"], "status": sms["DeliveryStatus"],
              "submitted": sms["DateTime"].strftime("%Y-%m-%d %H:%M:%S"),
              "discharged": sms["SMSCDateTime"].strftime("%Y-%m-%d %H:%M:%S")}
    ours = {"reference": int(fields.get("reference", -1)), "recipient": fields.get("recipient"),
            "status": int(fields.get("status", "0x-1 ").split(" ")[0], 16),
            "submitted": fields.get("submitted", "")[:19], "discharged": fields.get("discharged", "")[:19]}
    for name in theirs:
        if ours[name] != theirs[name]:
            failures.append(f"we read the {name} {ours[name]!r} where gammu reads {theirs[name]!r} in {pdu}")
    for name, key in (("submitted", "taken"), ("discharged", "done")):
        want = expected[key].strftime("%Y-%m-%d %H:%M:%S") + " " + offset_text(expected[key + "_offset"])
        if fields.get(name) != want:
            failures.append(f"we read {name} {fields.get(name)!r} where {want!r} was written in {pdu}")


def main():
    velmo = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    failures = []
    for _ in range(count):
        check_ours(velmo, random_text(rng), failures)
    pdus = 0
    for _ in range(count // 2):
        text = random_text(rng)
        for unicode in (False, True):
            # gammu writes a tilde in UCS2 as U+0001 (and reads it back as a tilde).
            buffer = text.replace("~", "") if unicode else text
            for part in gammu.EncodeSMS({"Class": -1, "Unicode": unicode,
                                         "Entries": [{"ID": "ConcatenatedTextLong", "Buffer": buffer}]}):
                check_theirs(velmo, deliver(part), failures)
                pdus += 1
    template = gammu.EncodeSMS({"Class": -1, "Entries": [{"ID": "Text", "Buffer": "x"}]})[0]
    for n in range(count // 10):
        data = bytes(rng.randrange(256) for _ in range(rng.randint(0, 120)))
        udh = {"Type": "NoUDH", "Text": b""} if n % 2 else \
            {"Type": "ConcatenatedMessages", "Text": bytes([5, 0, 3, n % 256, 2, 1]), "ID8bit": n % 256,
             "ID16bit": -1, "PartNumber": 1, "AllParts": 2}
        check_theirs(velmo, deliver(template, Coding="8bit", Text=data, UDH=udh), failures)
        pdus += 1
    reports = count // 4
    for _ in range(reports):
        check_report(velmo, *random_report(rng), failures)
    for f in failures[:20]:
        print(f)
    print(f"gammu oracle: {count} texts encoded by velmo, {pdus} PDUs made by gammu decoded by velmo, "
          f"{reports} status reports read by both, {len(failures)} disagreements")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

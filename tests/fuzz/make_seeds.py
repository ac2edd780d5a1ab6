#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/ (run from anywhere).

With --journal FILE (a journal of fake-iphone --journal), the messages a client sent to the
simulated phone also become seeds of the simulator's own target.

The seeds follow the formats as phones and the desktop sync application write them: binary and
XML manifests, keyed-archive file records, an address book with the tables and label texts of a
phone, and record batches of a contacts sync session. Inputs that once crashed a target are kept
beside them under names starting with "crash-", and the inputs with which 10-minute runs reached
new edges (libFuzzer's -merge=1 -use_counters=0 over their corpora) under their SHA-1 names, so
that a short run starts where a long one got; this script leaves both alone."""
import datetime
import json
import os
import plistlib
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
UDID = "0123456789abcdef0123456789abcdef01234567"


def seed(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def b1(data):
    data = data.encode() if isinstance(data, str) else data
    return bytes([len(data)]) + data


def b2(data):
    return struct.pack(">H", len(data)) + data


# ---- Manifest.plist -------------------------------------------------------------------------
def manifest(encrypted):
    m = {
        "BackupKeyBag": bytes.fromhex("0000000456455253000000040000000354595045"),
        "Date": datetime.datetime(2024, 3, 1, 12, 30, 0),
        "IsEncrypted": encrypted,
        "Lockdown": {
            "BuildVersion": "21E236",
            "DeviceName": "Anna's iPhone",
            "ProductType": "iPhone14,2",
            "ProductVersion": "17.4.1",
            "SerialNumber": "F2LXK0ABCD12",
            "UniqueDeviceID": "00008030-001A2B3C4D5E6F70",
            "com.apple.MobileDeviceCrashCopy": {},
        },
        "SystemDomainsVersion": "24.0",
        "Version": "10.0",
        "WasPasscodeSet": True,
        "Applications": {"com.example.app": {"CFBundleIdentifier": "com.example.app"}},
    }
    if encrypted:
        m["ManifestKey"] = bytes(44)
    return m


seed("tw_fuzz_manifest_plist", "plain-binary",
     b"\x01" + plistlib.dumps(manifest(False), fmt=plistlib.FMT_BINARY))
seed("tw_fuzz_manifest_plist", "encrypted-xml",
     b"\x00" + plistlib.dumps(manifest(True), fmt=plistlib.FMT_XML))


# ---- Manifest.db file records ---------------------------------------------------------------
def xml_uids(value):
    """XML property lists write a reference as a dictionary with the one key "CF$UID"."""
    if isinstance(value, plistlib.UID):
        return {"CF$UID": value.data}
    if isinstance(value, dict):
        return {k: xml_uids(v) for k, v in value.items()}
    if isinstance(value, list):
        return [xml_uids(v) for v in value]
    return value


def mbfile(path, size, mode, digest=None, key=None, target=None, xml=False):
    objs = ["$null"]
    top = {"$class": plistlib.UID(0), "Birth": 1600000000, "Flags": 0, "GroupID": 501,
           "InodeNumber": 123456 + size, "LastModified": 1700000000,
           "LastStatusChange": 1700000001, "Mode": mode, "ProtectionClass": 3,
           "Size": size, "UserID": 501}
    objs.append(top)
    objs.append(path)
    top["RelativePath"] = plistlib.UID(2)
    if digest is not None:
        objs.append(digest)
        top["Digest"] = plistlib.UID(len(objs) - 1)
    if key is not None:
        objs.append({"NS.data": key, "$class": plistlib.UID(0)})
        top["EncryptionKey"] = plistlib.UID(len(objs) - 1)
    if target is not None:
        objs.append(target)
        top["Target"] = plistlib.UID(len(objs) - 1)
    objs.append({"$classname": "NSMutableData", "$classes": ["NSMutableData", "NSData", "NSObject"]})
    data_class = len(objs) - 1
    objs.append({"$classname": "MBFile", "$classes": ["MBFile", "NSObject"]})
    top["$class"] = plistlib.UID(len(objs) - 1)
    for o in objs:
        if isinstance(o, dict) and "NS.data" in o:
            o["$class"] = plistlib.UID(data_class)
    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver",
               "$top": {"root": plistlib.UID(1)}, "$objects": objs}
    if xml:
        archive = xml_uids(archive)
    return plistlib.dumps(archive, fmt=plistlib.FMT_XML if xml else plistlib.FMT_BINARY)


records = b""
records += b1("HomeDomain") + b1("Library") + b2(mbfile("Library", 0, 0o40755))
records += b1("HomeDomain") + b1("Library/AddressBook") + b2(
    mbfile("Library/AddressBook", 0, 0o40755))
records += b1("HomeDomain") + b1("Library/AddressBook/AddressBook.sqlitedb") + b2(
    mbfile("Library/AddressBook/AddressBook.sqlitedb", 524288, 0o100644, digest=bytes(range(20))))
records += b1("CameraRollDomain") + b1("Media/DCIM/100APPLE/IMG_0001.JPG") + b2(
    mbfile("Media/DCIM/100APPLE/IMG_0001.JPG", 2000000, 0o100644,
           key=b"\x03\x00\x00\x00" + bytes(40)))
records += b1("AppDomain-com.example.app") + b1("Documents/link") + b2(
    mbfile("Documents/link", 0, 0o120755, target="../Library/file", xml=True))
seed("tw_fuzz_manifest_db", "phone-index", records)


# ---- AddressBook.sqlitedb rows --------------------------------------------------------------
def null():
    return b"\x00" + b1(b"")


def integer(v):
    return b"\x01" + b1(struct.pack("<q", v))


def real(v):
    return b"\x02" + b1(struct.pack("<d", v))


def text(s):
    return b"\x03" + b1(s.encode())


def blob(b):
    return b"\x04" + b1(b)


def row(table, *values):
    return bytes([table]) + b"".join(values)


PERSON, MULTI, LABEL, ENTRY, KEY, FULL, THUMB = range(7)
book = b""
for i, label in enumerate(["_$!<Mobile>!$_", "_$!<Home>!$_", "_$!<Work>!$_", "_$!<Other>!$_",
                           "_$!<Anniversary>!$_", "iPhone", "_$!<HomePage>!$_",
                           "_$!<Mother>!$_", "_$!<HomeFAX>!$_"], start=1):
    book += row(LABEL, integer(i), text(label))
for i, key in enumerate(["Street", "City", "State", "ZIP", "Country", "CountryCode", "service",
                         "username"], start=1):
    book += row(KEY, integer(i), text(key))
book += row(PERSON, integer(1), text("Anna"), text("Berg"), text("Maria"), text("Dr."),
            text("PhD"), text("Acme"), text("R&D"), text("Engineer"), text("Met at the fair"),
            real(-978307200.0), text("Annie"), integer(0), real(700000000.5), real(700000100.0))
book += row(PERSON, integer(2), null(), null(), null(), null(), null(), text("Pizza Pronto"),
            null(), null(), null(), null(), null(), integer(1), null(), null())
book += row(PERSON, integer(3), text("Jörg"), text("Ünal"), null(), null(), null(), null(),
            null(), null(), null(), text("-1"), null(), integer(0), null(), null())
book += row(MULTI, integer(10), integer(1), integer(3), integer(0), integer(1), text("+49 170 1234567"))
book += row(MULTI, integer(11), integer(1), integer(4), integer(1), integer(3), text("anna@acme.example"))
book += row(MULTI, integer(12), integer(1), integer(5), integer(2), integer(2), null())
book += row(ENTRY, integer(12), integer(1), text("Hauptstr. 1\nHinterhaus"))
book += row(ENTRY, integer(12), integer(2), text("Berlin"))
book += row(ENTRY, integer(12), integer(4), text("10115"))
book += row(ENTRY, integer(12), integer(6), text("de"))
book += row(MULTI, integer(13), integer(1), integer(12), integer(3), integer(5), real(-31536000.0))
book += row(MULTI, integer(14), integer(1), integer(13), integer(4), integer(2), null())
book += row(ENTRY, integer(14), integer(7), text("Skype"))
book += row(ENTRY, integer(14), integer(8), text("anna.berg"))
book += row(MULTI, integer(15), integer(1), integer(22), integer(5), integer(7), text("https://anna.example"))
book += row(MULTI, integer(16), integer(1), integer(23), integer(6), integer(8), text("Eva"))
book += row(MULTI, integer(17), integer(2), integer(3), integer(0), integer(99), text("030 555 0100"))
book += row(MULTI, integer(18), integer(3), integer(3), integer(0), null(), text("0171 000"))
jpeg = bytes.fromhex("ffd8ffe000104a46494600010100000100010000ffd9")
png = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                    "1f15c4890000000d49444154789c63f8cfc0f01f0005000201e2b0c1a4"
                    "0000000049454e44ae426082")
book += row(FULL, integer(1), integer(1), integer(0), integer(0), integer(1), integer(1), blob(jpeg))
book += row(THUMB, integer(1), integer(3), integer(0), integer(0), blob(png))
seed("tw_fuzz_addressbook", "phone-book", book)


# ---- Record batches of a contacts sync session -----------------------------------------------
KIND = "com.apple.syncservices.RecordEntityName"
E = "___EmptyParameterString___"
batch = {
    "1": {KIND: "com.apple.contacts.Contact", "first name": "Anna", "last name": "Berg",
          "middle name": "Maria", "title": "Dr.", "suffix": "PhD", "nickname": "Annie",
          "company name": "Acme", "department": "R&D", "job title": "Engineer",
          "birthday": datetime.datetime(1969, 7, 20, 12, 0, 0), "notes": "Met at the fair",
          "image": png, "display as company": "person", "first name yomi": "アンナ"},
    "2": {KIND: "com.apple.contacts.Contact", "company name": "Pizza Pronto",
          "display as company": "company"},
    "1/3/0": {KIND: "com.apple.contacts.Phone Number", "contact": ["1"], "type": "mobile",
              "value": "+49 170 1234567"},
    "1/3/1": {KIND: "com.apple.contacts.Phone Number", "contact": ["1"], "type": "other",
              "label": "Boat", "value": "555"},
    "1/4/0": {KIND: "com.apple.contacts.Email Address", "contact": ["1"], "type": "work",
              "value": "anna@acme.example"},
    "1/5/0": {KIND: "com.apple.contacts.Street Address", "contact": ["1"], "type": "home",
              "street": "Hauptstr. 1\nHinterhaus", "city": "Berlin", "postal code": "10115",
              "country": "Germany", "country code": "de"},
    "1/12/0": {KIND: "com.apple.contacts.Date", "contact": ["1"], "type": "anniversary",
               "value": datetime.datetime(1999, 5, 1, 0, 0, 0)},
    "1/13/0": {KIND: "com.apple.contacts.IM", "contact": ["1"], "type": "home",
               "service": "Skype", "user": "anna.berg"},
    "1/22/0": {KIND: "com.apple.contacts.URL", "contact": ["1"], "type": "home page",
               "value": "https://anna.example"},
    "1/23/0": {KIND: "com.apple.contacts.Related Name", "contact": ["1"], "type": "mother",
               "value": "Eva"},
    "9/3/0": {KIND: "com.apple.contacts.Phone Number", "contact": ["9"], "type": "work",
              "value": "orphan"},
    "3": {KIND: "com.apple.contacts.Group", "name": "Family"},
}
# Frames of a read as the phone sends them: each batch an SDMessageProcessChanges, the children
# before their contact in the first, the last batch saying that no more follow.
def changes(records, more):
    actions = {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact",
                                                "com.apple.contacts.Group"],
               "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey": not more}
    return plistlib.dumps(["SDMessageProcessChanges", "com.apple.Contacts", records, more,
                           actions], fmt=plistlib.FMT_BINARY)


children = {k: v for k, v in batch.items() if "/" in k}
contacts = {k: v for k, v in batch.items() if "/" not in k}
seed("tw_fuzz_phone_records", "read-batches",
     b2(changes(children, True)) + b2(changes(contacts, False)))
seed("tw_fuzz_phone_records", "read-xml", b2(plistlib.dumps(
    ["SDMessageProcessChanges", "com.apple.Contacts", batch, False, E], fmt=plistlib.FMT_XML)))
seed("tw_fuzz_phone_records", "read-cancelled",
     b2(changes(children, True)) + b2(plistlib.dumps(
         ["SDMessageCancelSession", "com.apple.Contacts", "Sync cancelled"],
         fmt=plistlib.FMT_BINARY)))


# ---- Frames of each step of a sync session ---------------------------------------------------
def step(kind, message, fmt=plistlib.FMT_BINARY):
    return bytes([kind]) + b2(plistlib.dumps(message, fmt=fmt))


START, READ, REMAP = range(3)
seed("tw_fuzz_device_frames", "ios17-session",
     step(START, ["SDMessageSyncDataClassWithComputer", "com.apple.Contacts", "---",
                  "2024-03-01 12:30:00 +0000", 106, "SDSyncTypeReset", E]) +
     step(READ, ["SDMessageProcessChanges", "com.apple.Contacts", contacts, False,
                 {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"],
                  "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey": True}]) +
     step(REMAP, ["SDMessageDeviceReadyToReceiveChanges"]) +
     step(REMAP, ["SDMessageRemapRecordIdentifiers", "com.apple.Contacts",
                  {"-12": "120", "-12/3/-52": "120/3/0", "4711/3/-53": "4711/3/7"}]))
seed("tw_fuzz_device_frames", "ios12-refusals",
     step(START, ["SDMessageSyncDataClassWithComputer", "com.apple.Contacts", "---",
                  "anchor", 106, "SDSyncTypeSlow"], plistlib.FMT_XML) +
     step(START, ["SDMessageRefuseToSyncDataClassWithComputer", "com.apple.Contacts",
                  "The data class is locked"]) +
     step(READ, ["SDMessageCancelSession", "com.apple.Contacts", "Sync cancelled"]) +
     step(READ, ["DLMessageDisconnect", "bye"]) +
     step(REMAP, ["SDMessageRemapRecordIdentifiers", "com.apple.Contacts", E]))


# ---- The phone's answers to a restore's records ----------------------------------------------
# The target sends a fixed batch: the new contact "-1" with a phone (row 2) and an email (row 3),
# the known contact "4711" with a new phone (row 5) and its known email "4/4711/106"; an edit
# sends "4711" alone. Steps: 0 the contact message, 1 the detail message, 2 the edit.
CONTACT_MSG, DETAIL_MSG, EDIT_MSG = range(3)


def remap(mapping):
    return ["SDMessageRemapRecordIdentifiers", "com.apple.Contacts", mapping]


details = {"3/-1/-2": "3/120/0", "4/-1/-3": "4/120/1", "3/4711/-5": "3/4711/2"}
seed("tw_fuzz_restore_replies", "restore",
     step(CONTACT_MSG, remap({"-1": "120"})) + step(DETAIL_MSG, remap(details)))
seed("tw_fuzz_restore_replies", "restore-xml-stray",
     step(CONTACT_MSG, ["SDMessageDeviceReadyToReceiveChanges"]) +
     step(CONTACT_MSG, remap({"-1": "120"}), plistlib.FMT_XML) +
     step(DETAIL_MSG, remap(dict(details, **{"4/4711/106": "4/4711/106"})), plistlib.FMT_XML))
# Answers a phone should not give: ids for rows not sent, values that are not text, a missing
# id (the restore stops there), an empty answer, an ended session.
seed("tw_fuzz_restore_replies", "foreign-rows",
     step(CONTACT_MSG, remap({"-1": "120", "-3": "130", "-2": 7, "-99999999999999999999": "x"})) +
     step(DETAIL_MSG, remap(dict(details, **{"3/-3/-8": "3/130/0", "4/-1/-3": ["4/120/1"],
                                             "3/4711/-1": "3/4711/9", "3/x/-2": "y"}))))
seed("tw_fuzz_restore_replies", "missing-id",
     step(CONTACT_MSG, remap({"-1": "120"})) + step(DETAIL_MSG, remap({"3/-1/-2": "3/120/0"})) +
     step(DETAIL_MSG, remap(details)))
seed("tw_fuzz_restore_replies", "edit",
     step(EDIT_MSG, remap({"4711": "4711"})) + step(EDIT_MSG, remap({"other": "4800"})) +
     step(EDIT_MSG, remap(E)) + step(DETAIL_MSG, remap(details)) +
     step(CONTACT_MSG, ["SDMessageCancelSession", "com.apple.Contacts", "Sync cancelled"]))


# ---- What clients send to the simulated phone --------------------------------------------------
# The simulator's target takes a first byte (the port: 0 usbmuxd, 1 lockdown, 3 sync) and the raw
# bytes a client sends there.
def frames(messages, fmt=plistlib.FMT_BINARY):
    out = b""
    for m in messages:
        body = plistlib.dumps(m, fmt=fmt)
        out += struct.pack(">I", len(body)) + body
    return out


seed("fakedevice_fuzz", "sync-read", b"\x03" + frames([
    ["DLMessageVersionExchange", "DLVersionsOk", 400],
    ["SDMessageSyncDataClassWithDevice", "com.apple.Contacts", "---", "2024-03-01 12:30:00",
     106, E],
    ["SDMessageGetAllRecordsFromDevice", "com.apple.Contacts"],
    ["SDMessageAcknowledgeChangesFromDevice", "com.apple.Contacts"],
    ["SDMessageAcknowledgeChangesFromDevice", "com.apple.Contacts"],
    ["SDMessageFinishSessionOnDevice", "com.apple.Contacts"],
    ["DLMessageDisconnect", "All done, thanks for the memories"]]))
seed("fakedevice_fuzz", "sync-write", b"\x03" + frames([
    ["DLMessageVersionExchange", "DLVersionsOk", 300],
    ["SDMessageSyncDataClassWithDevice", "com.apple.Contacts", "---", "anchor", 106, E],
    ["DLMessagePing", "Preparing to get changes for device"],
    ["SDMessageProcessChanges", "com.apple.Contacts", {"-12": contacts["1"]}, False,
     {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"]}],
    ["SDMessageFinishSessionOnDevice", "com.apple.Contacts"]]))

if "--journal" in sys.argv:
    journal = sys.argv[sys.argv.index("--journal") + 1]
    lockdown = b""
    mux = b""
    for line in open(journal):
        entry = json.loads(line)
        if entry.get("dir") != "in" or not entry.get("xml"):
            continue
        xml = entry["xml"].encode()
        if entry["service"] == "lockdownd":
            lockdown += struct.pack(">I", len(xml)) + xml
        elif entry["service"] == "usbmuxd":
            mux += struct.pack("<IIII", 16 + len(xml), 1, 8, 1) + xml
    if lockdown:
        seed("fakedevice_fuzz", "journal-lockdown", b"\x01" + lockdown)
    if mux:
        seed("fakedevice_fuzz", "journal-usbmuxd", b"\x00" + mux)


# ---- Hostile property lists: each once aborted or exhausted the program -----------------------
def shared_references(depth):
    """Each level refers to the level below twice: a few hundred bytes that expand 2**depth."""
    node = ["leaf"]
    for _ in range(depth):
        node = [node, node]
    return node


def nested(depth):
    node = "deep"
    for _ in range(depth):
        node = [node]
    return node


nul_key = {"a\x00b": {KIND: "com.apple.contacts.Contact", "first name": "x"}}
nul_string = {"1": {KIND: "com.apple.contacts.Contact", "first name": "Anna\x00Berg"}}
hostile = {"nul-key": nul_key, "nul-string": nul_string, "shared": {"1": shared_references(40)},
           "nested": {"1": nested(300)}}
for name, records in hostile.items():
    body = plistlib.dumps(["SDMessageProcessChanges", "com.apple.Contacts", records, False, E],
                          fmt=plistlib.FMT_BINARY)
    seed("tw_fuzz_phone_records", "hostile-" + name, b2(body))
    seed("tw_fuzz_device_frames", "hostile-" + name, bytes([READ]) + b2(body))
seed("fakedevice_fuzz", "hostile-nul-key", b"\x03" + frames([
    ["DLMessageVersionExchange", "DLVersionsOk", 400],
    ["SDMessageSyncDataClassWithDevice", "com.apple.Contacts", "---", "anchor", 106, E],
    ["SDMessageProcessChanges", "com.apple.Contacts", nul_key, False, E]]))
archive = plistlib.loads(mbfile("Library/a", 1, 0o100644))
archive["$objects"][1]["Size\x00x"] = 5
seed("tw_fuzz_manifest_db", "hostile-nul-key",
     b1("HomeDomain") + b1("Library/a") + b2(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY)))
manifest_nul = manifest(False)
manifest_nul["Lockdown"]["Device\x00Name"] = "x"
seed("tw_fuzz_manifest_plist", "hostile-nul-key",
     b"\x00" + plistlib.dumps(manifest_nul, fmt=plistlib.FMT_BINARY))
seed("tw_fuzz_manifest_plist", "hostile-shared",
     b"\x00" + plistlib.dumps({"Lockdown": shared_references(40)}, fmt=plistlib.FMT_BINARY))


# ---- Raw frames (length word, then the body) for the frame guard's own target ------------------
def raw_frame(message, fmt=plistlib.FMT_BINARY):
    body = plistlib.dumps(message, fmt=fmt)
    return struct.pack(">I", len(body)) + body


seed("tw_fuzz_frame_guard", "start-ios17", raw_frame(
    ["SDMessageSyncDataClassWithComputer", "com.apple.Contacts", "---", "anchor", 106,
     "SDSyncTypeReset", E]))
seed("tw_fuzz_frame_guard", "batch", raw_frame(
    ["SDMessageProcessChanges", "com.apple.Contacts", batch, True, E]))
seed("tw_fuzz_frame_guard", "remap-xml", raw_frame(
    ["SDMessageRemapRecordIdentifiers", "com.apple.Contacts", {"-12": "120"}], plistlib.FMT_XML))
for name, records in hostile.items():
    seed("tw_fuzz_frame_guard", "hostile-" + name, raw_frame(
        ["SDMessageProcessChanges", "com.apple.Contacts", records, False, E]))

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>EditContactForm</name>
    <message>
        <source>新增联系人</source>
        <translation>Add Contact</translation>
    </message>
    <message>
        <source>IDS_EDIT_CONTACT_%1</source>
        <translation>Edit Contact %1</translation>
    </message>
    <message>
        <source>IDS_NEW_CONTACT</source>
        <translation>Add New Contact</translation>
    </message>
    <message>
        <source>IDS_CANCEL_EDIT_CONTACT_WILL_LOST_CHANGES_CONTINUE</source>
        <translation>Discard the editing?</translation>
    </message>
</context>
</TS>

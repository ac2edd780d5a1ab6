<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ImportContactsToLocalThread</name>
    <message>
        <source>IDS_IMPORTING_CONTACTS_TO_DB</source>
        <translation>Importing contacts to Local Database now...</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_TO_DB</source>
        <translation>Successfully imported %1 contacts.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED</source>
        <translation>Successfully imported %1 contacts, with %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_IMPORT_UNKNOWN_ERROR</source>
        <translation>An unexpected error stopped the import. Nothing was imported.</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ExportToFileThread</name>
    <message>
        <source>IDS_EXPORTING_CONTACTS_TO_FILE</source>
        <translation>Exporting contacts to File now...</translation>
    </message>
    <message>
        <source>IDS_EXPORT_UNKNOWN_ERROR</source>
        <translation>An unexpected error stopped the export. No file was written.</translation>
    </message>
</context>
<context>
    <name>ContactsPrinter</name>
    <message>
        <source>IDS_PRINT_CONTACTS</source>
        <translation>Print Contacts</translation>
    </message>
    <message>
        <source>IDS_EXPORT_PDF_FAILED</source>
        <translation>The PDF file could not be written.</translation>
    </message>
</context>
</TS>

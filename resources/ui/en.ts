<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IDS</name>
    <message>
        <source>IDS_CONFIRM_CLEAR_IOS_CONTACTS</source>
        <translation>Confrim to clear all iPhone contacts?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP</source>
        <translation>Confirm to delete the Group?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP_%1_MEMBERS</source>
        <translation>The %1 contacts in it will be deleted with it.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP_%1_MEMBERS_PHONE</source>
        <translation>The %1 contacts in it will be deleted with it, from the iPhone too.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP_1_MEMBER</source>
        <translation>The 1 contact in it will be deleted with it.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP_1_MEMBER_PHONE</source>
        <translation>The 1 contact in it will be deleted with it, from the iPhone too.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_GROUP_EMPTY</source>
        <translation>It holds no contacts: only the group will be deleted.</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_LOCALDB</source>
        <translation>Confirm to delete this Local Database?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_SELECTIONS</source>
        <translation>Confirm to delete selected contacts?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_UNGROUP_CONTACTS</source>
        <translation>Confirm to remove seleted member from the Group?</translation>
    </message>
    <message>
        <source>IDS_CONTACT_NAME_%1_EXIST</source>
        <translation>Contact %1 has already existed.</translation>
    </message>
    <message>
        <source>IDS_CREATE_DB_FAIL_%1</source>
        <translation>Failed to create Local Database. Error:%1</translation>
    </message>
    <message>
        <source>IDS_DELETE_LOCALDB_ERROR</source>
        <translation>An Error Occurred during deleting Local Database. Please try again.</translation>
    </message>
    <message>
        <source>IDS_DELETE_LOCALDB_SUC</source>
        <translation>Successfully deleted Local Database.</translation>
    </message>
    <message>
        <source>IDS_ENTER_FIRSTNAME_OR_LASTNAME</source>
        <translation>First name or Last name can&apos;t be blank.</translation>
    </message>
    <message>
        <source>IDS_IMPORTING_CONTACTS_TO_LOCALDB</source>
        <translation>Backing up contacts to Local Database</translation>
    </message>
    <message>
        <source>IDS_INVALID_LOCALDB_NAME</source>
        <translation>A Local Database name can't contain any of the characters \ / : * ? " &lt; &gt; | and can't begin with a dot.</translation>
    </message>
    <message>
        <source>IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS</source>
        <translation>&lt;b&gt;Your iPhone is connected.&lt;/b&gt;&lt;br/&gt;&lt;br/&gt;If your iPhone is protected by a passcode, unlock it first.&lt;br/&gt;Then turn off contact sync for your accounts and cloud on the iPhone (Settings &amp;gt; Contacts &amp;gt; Accounts), so that all contacts are read:&lt;br/&gt;&lt;br/&gt;&lt;img src=":/res/iphone_setting1.jpg"/&gt;</translation>
    </message>
    <message>
        <source>IDS_MERGING_CONTACTS</source>
        <translation>Merging contacts now...</translation>
    </message>
    <message>
        <source>IDS_MI_ABOUT</source>
        <translation>About</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_CONTACTS</source>
        <translation>Backup Contacts</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_SELECTIONS</source>
        <translation>Backup selected contacts</translation>
    </message>
    <message>
        <source>IDS_MI_CHECK_FOR_UPDATE</source>
        <translation>Check update</translation>
    </message>
    <message>
        <source>IDS_MI_DEL_CONTACTS</source>
        <translation>Delete Contact</translation>
    </message>
    <message>
        <source>IDS_MI_DEL_GROUP</source>
        <translation>Delete Group and its Contacts</translation>
    </message>
    <message>
        <source>IDS_MI_DEL_SELECTIONS</source>
        <translation>Delete selected contacts</translation>
    </message>
    <message>
        <source>IDS_MI_EDIT_CONTACT</source>
        <translation>Edit Contact</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CONTACTS</source>
        <translation>Export Contacts to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_SELECTIONS</source>
        <translation>Export selected contacts</translation>
    </message>
    <message>
        <source>IDS_MI_FEEDBACK</source>
        <translation>Feedback and support</translation>
    </message>
    <message>
        <source>IDS_MI_FROM_ITUNES</source>
        <translation>Import from iTunes</translation>
    </message>
    <message>
        <source>IDS_MI_HELP</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_FILE</source>
        <translation>Import from File</translation>
    </message>
    <message>
        <source>IDS_MI_NEW_CONTACT</source>
        <translation>Add Contact</translation>
    </message>
    <message>
        <source>IDS_MI_OPEN_LOCALDB_FOLDER</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>IDS_MI_PHONE_TO_PHONE</source>
        <translation>Phone to Phone Transfer</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_CONTACTS</source>
        <translation>Print Contacts</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_SELECTIONS</source>
        <translation>Print selected contacts</translation>
    </message>
    <message>
        <source>IDS_MI_REMOVE_LOCAL_DB</source>
        <translation>Delete Local Database</translation>
    </message>
    <message>
        <source>IDS_MI_SET_GROUP</source>
        <translation>Set Contact Group</translation>
    </message>
    <message>
        <source>IDS_MI_TRANSFER_SELECTIONS_TO_IOS_FROM_DB</source>
        <translation>Restore selected contacts to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_TRANSFER_SELECTIONS_TO_OTHER_IOS_FROM_IOS</source>
        <translation>Transfer selected contacts from iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_TRANSFER_TO_IOS_FROM_LOCALDB</source>
        <translation>Restore Contacts to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_TRANSFER_TO_OTHER_IOS_FROM_IOS</source>
        <translation>iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_UNMOUNT_DEVICE</source>
        <translation>Disconnect Device</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME</source>
        <translation>Select one Database or enter a new Database name</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_DATASOURCE</source>
        <translation>Please select one datasource.</translation>
    </message>
    <message>
        <source>IDS_RECEIVING_CONTACTS_FROM_IOS</source>
        <translation>Loading contacts from device...</translation>
    </message>
    <message>
        <source>IDS_ROOT_DEVICE</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>IDS_ROOT_LOCALDB</source>
        <translation>Local Databases</translation>
    </message>
    <message>
        <source>IDS_SEARCH_KEYWORKD_%1</source>
        <translation>Keyword:%1</translation>
    </message>
    <message>
        <source>IDS_SELECT_IOS_TO_TRANSFER</source>
        <translation>Select an iPhone device to continue.</translation>
    </message>
    <message>
        <source>IDS_SENGING_CHANGES_TO_DEVICE</source>
        <translation>Updating device contacts now...</translation>
    </message>
    <message>
        <source>IDS_STARTING_EXPORT_CONTACTS_TO_FILE</source>
        <translation>Exporting contacts to File now...</translation>
    </message>
    <message>
        <source>IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE</source>
        <translation>Loading Contacts from Device</translation>
    </message>
    <message>
        <source>IDS_STARTING_IMPORT_CONTACTS_FROM_FILE</source>
        <translation>Importing contacts now...</translation>
    </message>
    <message>
        <source>IDS_SUC_DEL_CONTACTS</source>
        <translation>Successfully deleted contact.</translation>
    </message>
    <message>
        <source>IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE</source>
        <translation>Successfully exported %1 contacts to File.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_TO_LOCALDB</source>
        <translation>Successfully backup %1 contacts to Local Database.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED</source>
        <translation>Successfully backup %1 contacts to Local Database;%2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS</source>
        <translation>Successfully transferred %1 contacts to device.</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2</source>
        <translation>Successfully transferred %1 contacts to device, with %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_UPDATE_GROUP_SUC</source>
        <translation>Successfuly set Contact Group</translation>
    </message>
</context>
</TS>

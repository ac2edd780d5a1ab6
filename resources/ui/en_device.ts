<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>DeviceWords</name>
    <message>
        <source>The phone is not connected (or not by USB). Connect it with its cable and try again.</source>
        <translation>The phone is not connected (or not by USB). Connect it with its cable and try again.</translation>
    </message>
    <message>
        <source>The phone is locked. Unlock it with its passcode and keep it unlocked while its contacts are read or written, then unplug it and plug it in again.</source>
        <translation>The phone is locked. Unlock it with its passcode and keep it unlocked while its contacts are read or written, then unplug it and plug it in again.</translation>
    </message>
    <message>
        <source>The phone has not been unlocked since it was restarted, so it keeps its contacts sealed. Unlock it with its passcode, keep it unlocked and try again.</source>
        <translation>The phone has not been unlocked since it was restarted, so it keeps its contacts sealed. Unlock it with its passcode, keep it unlocked and try again.</translation>
    </message>
    <message>
        <source>Another program, such as a sync or backup tool, is using the phone. Close that program and try again.</source>
        <translation>Another program, such as a sync or backup tool, is using the phone. Close that program and try again.</translation>
    </message>
    <message>
        <source>The phone refused to start its contacts sync service (ServiceProhibited): a restriction on the phone may forbid syncing with a computer. Ask whoever manages the phone to allow it, then try again.</source>
        <translation>The phone refused to start its contacts sync service (ServiceProhibited): a restriction on the phone may forbid syncing with a computer. Ask whoever manages the phone to allow it, then try again.</translation>
    </message>
    <message>
        <source>The phone refused to start its contacts sync service (InvalidService): it says it has no such service. Restart the phone and try again.</source>
        <translation>The phone refused to start its contacts sync service (InvalidService): it says it has no such service. Restart the phone and try again.</translation>
    </message>
    <message>
        <source>The phone refused the connection with this computer. Unplug it, plug it in again and try again.</source>
        <translation>The phone refused the connection with this computer. Unplug it, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone refused to start its contacts sync service. Unplug it, plug it in again and try again.</source>
        <translation>The phone refused to start its contacts sync service. Unplug it, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone refused the connection with this computer (%1).</source>
        <translation>The phone refused the connection with this computer (%1).</translation>
    </message>
    <message>
        <source>The phone refused to start its contacts sync service (%1).</source>
        <translation>The phone refused to start its contacts sync service (%1).</translation>
    </message>
    <message>
        <source>Unplug the phone, plug it in again and try again.</source>
        <translation>Unplug the phone, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone asks whether to trust this computer. Tap &quot;Trust&quot; on the phone and enter its passcode.</source>
        <translation>The phone asks whether to trust this computer. Tap &quot;Trust&quot; on the phone and enter its passcode.</translation>
    </message>
    <message>
        <source>The phone does not trust this computer (&quot;Don&apos;t Trust&quot; was tapped). Unplug the phone, plug it in again and tap &quot;Trust&quot; when it asks.</source>
        <translation>The phone does not trust this computer (&quot;Don&apos;t Trust&quot; was tapped). Unplug the phone, plug it in again and tap &quot;Trust&quot; when it asks.</translation>
    </message>
    <message>
        <source>The phone no longer knows this computer (it may have been erased or reset). Unplug the phone, plug it in again and tap &quot;Trust&quot; when it asks.</source>
        <translation>The phone no longer knows this computer (it may have been erased or reset). Unplug the phone, plug it in again and tap &quot;Trust&quot; when it asks.</translation>
    </message>
    <message>
        <source>The phone is attached, but it refused the secure connection to this computer: this computer&apos;s pairing with the phone is damaged or no longer valid. Unplug the phone, plug it in again and tap &quot;Trust&quot; if it asks; if it keeps refusing, remove this computer&apos;s pairing with the phone (for example with &quot;idevicepair unpair&quot;) and pair it again.</source>
        <translation>The phone is attached, but it refused the secure connection to this computer: this computer&apos;s pairing with the phone is damaged or no longer valid. Unplug the phone, plug it in again and tap &quot;Trust&quot; if it asks; if it keeps refusing, remove this computer&apos;s pairing with the phone (for example with &quot;idevicepair unpair&quot;) and pair it again.</translation>
    </message>
    <message>
        <source>The phone refuses to sync its contacts with this computer and did not say why.</source>
        <translation>The phone refuses to sync its contacts with this computer and did not say why.</translation>
    </message>
    <message>
        <source>The phone was disconnected. Plug it in again.</source>
        <translation>The phone was disconnected. Plug it in again.</translation>
    </message>
    <message>
        <source>The phone stopped answering. Unplug it, plug it in again and keep it unlocked.</source>
        <translation>The phone stopped answering. Unplug it, plug it in again and keep it unlocked.</translation>
    </message>
    <message>
        <source>The phone is attached, but it ended the connection without saying why. Unplug it, plug it in again and try again.</source>
        <translation>The phone is attached, but it ended the connection without saying why. Unplug it, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone ended the sync without saying why. Try again.</source>
        <translation>The phone ended the sync without saying why. Try again.</translation>
    </message>
    <message>
        <source>The phone sent something this program cannot read, and the sync was stopped.</source>
        <translation>The phone sent something this program cannot read, and the sync was stopped.</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>Cancelled.</translation>
    </message>
    <message>
        <source>This computer&apos;s phone service (usbmuxd) could not be reached: it is not running (nothing listens at its socket %1). Start usbmuxd, or plug the phone in, which starts it on most systems, and try again.</source>
        <translation>This computer&apos;s phone service (usbmuxd) could not be reached: it is not running (nothing listens at its socket %1). Start usbmuxd, or plug the phone in, which starts it on most systems, and try again.</translation>
    </message>
    <message>
        <source>This computer&apos;s phone service (usbmuxd) could not be reached: this user may not open its socket %1. Give this user access to that socket (for example, ask the computer&apos;s administrator to add the user to the group that owns it) and try again.</source>
        <translation>This computer&apos;s phone service (usbmuxd) could not be reached: this user may not open its socket %1. Give this user access to that socket (for example, ask the computer&apos;s administrator to add the user to the group that owns it) and try again.</translation>
    </message>
    <message>
        <source>This computer&apos;s phone service (usbmuxd) could not be reached: something else answers at its socket %1. Stop the program that listens there and start usbmuxd (or plug the phone in, which starts it on most systems), then try again.</source>
        <translation>This computer&apos;s phone service (usbmuxd) could not be reached: something else answers at its socket %1. Stop the program that listens there and start usbmuxd (or plug the phone in, which starts it on most systems), then try again.</translation>
    </message>
    <message>
        <source>This computer&apos;s phone service (usbmuxd) could not be reached: it took the connection at its socket %1 but did not answer. Restart usbmuxd (or unplug the phone and plug it in again, which starts it on most systems), then try again.</source>
        <translation>This computer&apos;s phone service (usbmuxd) could not be reached: it took the connection at its socket %1 but did not answer. Restart usbmuxd (or unplug the phone and plug it in again, which starts it on most systems), then try again.</translation>
    </message>
    <message>
        <source>This computer&apos;s phone service (usbmuxd) could not be reached at %1, for a reason it did not give. Start usbmuxd, or plug the phone in, which starts it on most systems, and try again.</source>
        <translation>This computer&apos;s phone service (usbmuxd) could not be reached at %1, for a reason it did not give. Start usbmuxd, or plug the phone in, which starts it on most systems, and try again.</translation>
    </message>
    <message>
        <source>Nothing of this read was kept.</source>
        <translation>Nothing of this read was kept.</translation>
    </message>
    <message>
        <source>What the phone had taken before stays on it.</source>
        <translation>What the phone had taken before stays on it.</translation>
    </message>
    <message>
        <source>The phone is attached, but it ended the connection while the sync service was being started, without saying why. Unplug it, plug it in again and try again.</source>
        <translation>The phone is attached, but it ended the connection while the sync service was being started, without saying why. Unplug it, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone is attached, but it ended the connection when the sync session was started, without saying why. Unplug it, plug it in again and try again.</source>
        <translation>The phone is attached, but it ended the connection when the sync session was started, without saying why. Unplug it, plug it in again and try again.</translation>
    </message>
    <message>
        <source>The phone ended the sync without saying why.</source>
        <translation>The phone ended the sync without saying why.</translation>
    </message>
    <message>
        <source>Try again.</source>
        <translation>Try again.</translation>
    </message>
    <message>
        <source>The phone refuses to sync its contacts with this computer: its contacts are kept in iCloud (it said %1). To sync them over USB, turn off Contacts in the phone&apos;s Settings &gt; [your name] &gt; iCloud (choose to keep the contacts on the phone), then unplug the phone and plug it in again.</source>
        <translation>The phone refuses to sync its contacts with this computer: its contacts are kept in iCloud (it said %1). To sync them over USB, turn off Contacts in the phone&apos;s Settings &gt; [your name] &gt; iCloud (choose to keep the contacts on the phone), then unplug the phone and plug it in again.</translation>
    </message>
    <message>
        <source>The phone refuses to sync its contacts with this computer. It said: %1.</source>
        <translation>The phone refuses to sync its contacts with this computer. It said: %1.</translation>
    </message>
    <message>
        <source>The phone ended the sync. It said: %1.</source>
        <translation>The phone ended the sync. It said: %1.</translation>
    </message>
    <message>
        <source>The phone stopped answering for %1 seconds.</source>
        <translation>The phone stopped answering for %1 seconds.</translation>
    </message>
    <message>
        <source>The phone stopped answering.</source>
        <translation>The phone stopped answering.</translation>
    </message>
    <message>
        <source>Unplug it, plug it in again and keep it unlocked.</source>
        <translation>Unplug it, plug it in again and keep it unlocked.</translation>
    </message>
    <message>
        <source>The phone was disconnected.</source>
        <translation>The phone was disconnected.</translation>
    </message>
    <message>
        <source>Plug it in again.</source>
        <translation>Plug it in again.</translation>
    </message>
</context>
</TS>

#pragma once

// What the phone may hold of changes sent to it that it did not answer for in full, from the
// messages that left this computer and the answers that came: the one answer every ending of a
// write (a failure, a cancel, the phone ending the session) gives the user.
enum class BatchOnPhone {
    NotWritten,      // no message of it left this computer
    MayBeOnPhone,    // a message left and the phone did not answer for its contacts
    WithoutDetails,  // the phone answered for its contacts, not for all their details
};

// Kept while the messages of one batch (or one edit) go out: the contact records first, then
// the details. A message counts as sent once its sending begins: a message cut off half-way
// may still have reached the phone whole, for all this computer can tell.
class SentLedger {
public:
    void clear() { *this = SentLedger(); }
    void sending() { m_sent = true; }
    // The phone answered for a message of contact records.
    void contactsAnswered() { m_contactsAnswered = true; }

    BatchOnPhone onPhone() const {
        if (!m_sent)
            return BatchOnPhone::NotWritten;
        return m_contactsAnswered ? BatchOnPhone::WithoutDetails : BatchOnPhone::MayBeOnPhone;
    }

private:
    bool m_sent = false;
    bool m_contactsAnswered = false;
};

#pragma once

#include <QMessageBox>
#include <QString>

// Shows a frameless, styled message box with the given standard buttons (bit mask of
// QMessageBox::StandardButton: Yes, No, Ok, Cancel, Abort, Retry) and returns the code of the
// button that closed it. withHeader puts the bold product title and version above the text.
// The text is rich text: callers escape any text that comes from data.
int g_showMessageBox(QMessageBox::Icon icon, QString text, int buttons, bool withHeader);

// Runs a prepared message box through the installed runner (by default modally) and returns
// what exec() would return. Every message box of the program goes through here.
int g_execMessageBox(QMessageBox& box);

// Runs the program's fully built message boxes. The program's own runs each box modally; tests
// install one that answers without a modal loop: it may inspect the box, click one of its buttons
// (box.button(...)->click()) and returns the result (box.result() after the click, or a standard
// button code).
class MessageBoxRunner {
public:
    virtual ~MessageBoxRunner() = default;
    virtual int run(QMessageBox& box) = 0;
};
// Installs the runner every box goes through; null restores the modal boxes. Not owned: it must
// stay until it is replaced.
void g_setMessageBoxRunner(MessageBoxRunner* runner);

// The error report's encoding of one field: Base64 of the UTF-8 bytes with "/" -> "!" and
// "=" -> "-".
QString base64_var(QString text);

// Escapes text for a rich-text box while keeping line-break tags ("<br/>" in any spelling) as
// line breaks.
QString g_escapeKeepingBreaks(const QString& text);

// The one rule for the text of every message box: the text is plain text (it may hold names,
// paths and other data) and is escaped, except for line breaks (line ends and "<br/>" tags)
// and links to the program's own web pages ('<a href="http://www.tellwick.example/...">label
// </a>'), which the program puts into its own texts and error texts.
QString g_messageBoxText(const QString& text);

// The body of the error report POST (form encoded, three base64_var fields).
QByteArray g_errorReportBody(const QString& err);

// Every box takes its text by the rule of g_messageBoxText; infoHtml alone takes markup.
class Tips {
public:
    static void info(QString text);
    // For the program's own fixed markup only (pictures, bold text): shown as it is.
    static void infoHtml(QString html);
    static void warning(QString text);
    // True only when Yes closed the box.
    static bool question(QString text);
    // Critical box with the product header, then posts the error report (fire and forget).
    // err is plain text (an exception text), by the rule of g_messageBoxText.
    static void error(QString err);
};

#pragma once

class QString;
class QWidget;
class TAccount;

// The "Error" box. Its text may hold the service's own words, so it is shown
// as plain text: markup in it is never rendered.
void showErrorBox(QWidget *parent, const QString &text);

// Shows what the account reports of the user's own requests: the "Error" box
// for a change or text message that did not go through, and the "Success"
// box for a text message sent.
void showAccountMessages(TAccount *account);

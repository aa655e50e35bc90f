// E-mailing an article: its link and title go to the platform's message
// composer ("\windows\tmail.exe"), started with a command line of the
// switches -service (the account of Settings "EmailAccount"), -to (empty),
// -body (an invitation, the link and an advert line) and -subject (the
// title; with the account "SMS" also the link), each value in double quotes.
// Returns at once: the composer runs as a program of its own, and a failed
// start is not reported.
//
// Every value reaches the composer as one argument: the title and the
// account lose their double quotes, a double quote in the link is sent as
// "%22" (as a web address writes it), and backslashes that would end a
// value before its closing quote are doubled, as the platform's quoting
// rules want.
#pragma once

#include "framework/afx.h"

#define MAIL_COMPOSER_PATH u"\\windows\\tmail.exe"

void SendArticleByMail(CString link, CString title);
// The composer's command line for the article (what SendArticleByMail
// starts it with).
CString MakeArticleMailParameters(const CString& link, const CString& title);

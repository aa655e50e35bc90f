#include "quillet/screens/send_mail.h"

#include "common/localize.h"
#include "quillet/refresh/refresh_state.h"
#include "shell/shellexec.h"

namespace {

// The maker's address at the end of the advert line.
constexpr const char16_t* kMakerAddress = u"http://www.marrowby.com/quillet";

CString Without(const CString& text, char16_t c) {
  CString out;
  for (int i = 0; i < text.GetLength(); ++i)
    if (text[i] != c) out += text[i];
  return out;
}

// The value between double quotes: the backslashes that end it are doubled,
// so that the closing quote stays a quote.
CString Quoted(const CString& value) {
  int slashes = 0;
  while (slashes < value.GetLength() && value[value.GetLength() - 1 - slashes] == u'\\') ++slashes;
  CString out = u"\"";
  out += value;
  for (int i = 0; i < slashes; ++i) out += u'\\';
  out += u'"';
  return out;
}

}  // namespace

CString MakeArticleMailParameters(const CString& link, const CString& title) {
  CString safeLink = link;
  safeLink.Replace(u"\"", u"%22");
  CString subject = Without(title, u'"');
  CString account = Without(ReadSettingString(u"Settings", u"EmailAccount", u"ActiveSync"), u'"');
  if (account.CompareNoCase(u"SMS") == 0) subject += u" " + safeLink;
  CString body = Localized(u"Here is a link to an article I thought you will find interesting:");
  body += u"\n\n" + safeLink + u"\n\n" + u"--------------------\n";
  body += Localized(u"This article was found using Marrowby Quillet for Windows Mobile.");
  body += u" ";
  body += kMakerAddress;
  body += u"\n";
  CString line = u"-service " + Quoted(account) + u" -to \"\" -body " + Quoted(body) + u" -subject " + Quoted(subject);
  return line;
}

void SendArticleByMail(CString link, CString title) {
  CString parameters = MakeArticleMailParameters(link, title);
  SHELLEXECUTEINFO info = {};
  info.cbSize = sizeof info;
  info.lpFile = MAIL_COMPOSER_PATH;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteEx(&info);
}

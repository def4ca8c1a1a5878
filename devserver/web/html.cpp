#include "html.h"

#include "../store.h"

namespace devserver::web {

std::string htmlEscape(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string dollars(long long cents)
{
    return "$" + formatCents(cents);
}

std::string renderPage(const std::string &title, const std::string &content,
                       const std::string &accountEmail)
{
    std::string page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)html";
    page += htmlEscape(title);
    page += R"html( - Ondavox</title>
<style>
body { margin: 0; font-family: "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: #222; background: #f2f5f9; }
header { background: #1d4f91; color: #fff; padding: 14px 32px; display: flex; justify-content: space-between; align-items: center; }
header .brand { font-size: 22px; font-weight: bold; letter-spacing: 1px; }
header .account { font-size: 14px; opacity: 0.9; }
main { max-width: 860px; margin: 28px auto; background: #fff; padding: 24px 32px 32px; border-radius: 8px; box-shadow: 0 1px 4px rgba(0,0,0,0.12); }
h1 { font-size: 24px; margin-top: 0; color: #1d4f91; }
h2 { font-size: 18px; color: #1d4f91; margin-top: 28px; }
table { border-collapse: collapse; width: 100%; margin: 8px 0 16px; }
th, td { text-align: left; padding: 7px 10px; border-bottom: 1px solid #e2e7ee; vertical-align: middle; }
th { background: #eef3fa; font-weight: bold; }
td.num, th.num { text-align: right; }
.balance { font-size: 20px; font-weight: bold; }
.notice { padding: 10px 14px; border-radius: 6px; margin: 12px 0; }
.notice.ok { background: #e5f5e8; border: 1px solid #9ed3a8; }
.notice.error { background: #fbe9e9; border: 1px solid #e3a1a1; }
form.inline { display: inline; }
label { display: block; margin: 10px 0 4px; font-weight: bold; }
input[type=text], input[type=email], input[type=password] { width: 320px; padding: 6px 8px; border: 1px solid #b8c2cf; border-radius: 4px; font-size: 14px; }
input, button { font-family: inherit; }
td.phones { white-space: nowrap; }
button { background: #1d4f91; color: #fff; border: 0; border-radius: 4px; padding: 7px 16px; font-size: 14px; cursor: pointer; margin-top: 12px; }
button.small { padding: 3px 10px; font-size: 12px; margin: 0; }
button.secondary { background: #6b7a8f; }
img.photo { width: 40px; height: 40px; border-radius: 20px; vertical-align: middle; }
code { background: #eef3fa; padding: 2px 6px; border-radius: 3px; font-size: 15px; }
.muted { color: #6b7a8f; font-size: 13px; }
</style>
</head>
<body>
<header><span class="brand">Ondavox</span>)html";
    if (!accountEmail.empty())
        page += "<span class=\"account\">" + htmlEscape(accountEmail) + "</span>";
    page += "</header>\n<main>\n";
    page += content;
    page += "\n</main>\n</body>\n</html>\n";
    return page;
}

} // namespace devserver::web

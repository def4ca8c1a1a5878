#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QWebEngineView;

// A top-level window showing the service's pages: the page, with a line
// above it that tells when the page was not allowed somewhere. Closing the
// window only hides it. Its title is the page's title on the service and
// names the host wherever else (a payment provider) the user is.
class PageWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PageWindow(const QUrl &service, QWidget *parent = nullptr);

    // Loads url, posting body when post is set (an empty body included).
    void load(const QUrl &url, bool post, const QByteArray &body);

    QWebEngineView *view() const { return web; }
    QString noticeText() const;

signals:
    // Title, address, notice or visibility changed.
    void changed();
    // A web address that belongs in the user's browser.
    void openInBrowser(const QUrl &url);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    friend class ServicePage;
    void tell(const QString &text);
    void updateTitle();

    QUrl service;
    QLabel *notice;
    QWebEngineView *web;
};

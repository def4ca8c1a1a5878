#include "pages/pagewindow.h"

#include "pages/navigation.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>
#include <QWebEngineHttpRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

class ServicePage : public QWebEnginePage
{
public:
    ServicePage(PageWindow *window, const QUrl &service)
        : QWebEnginePage(window)
        , window(window)
        , service(service)
    {
        settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        // No new window ever opens here: the address goes where a click on
        // it would.
        connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
            const QUrl url = request.requestedUrl();
            switch (Navigation::forNewWindow(this->service, url)) {
            case Navigation::Verdict::Follow:
                load(url);
                break;
            case Navigation::Verdict::ToBrowser:
                emit this->window->openInBrowser(url);
                break;
            case Navigation::Verdict::Refuse:
                refuse(url);
                break;
            }
        });
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return Navigation::frameAllowed(service, this->url(), url);
        switch (Navigation::forWindow(service, url, type == NavigationTypeLinkClicked)) {
        case Navigation::Verdict::Follow:
            window->tell({});
            return true;
        case Navigation::Verdict::ToBrowser:
            emit window->openInBrowser(url);
            window->tell(PageWindow::tr("%1 was opened in your web browser.").arg(url.toDisplayString()));
            return false;
        case Navigation::Verdict::Refuse:
            refuse(url);
            return false;
        }
        return false;
    }

private:
    void refuse(const QUrl &url)
    {
        window->tell(PageWindow::tr("The page wanted to open %1. It was not opened: this window opens "
                                    "only secure (https) addresses.")
                         .arg(url.toDisplayString()));
    }

    PageWindow *window;
    QUrl service;
};

PageWindow::PageWindow(const QUrl &service, QWidget *parent)
    : QWidget(parent)
    , service(service)
    , notice(new QLabel(this))
    , web(new QWebEngineView(this))
{
    setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));
    notice->setObjectName(QStringLiteral("lblNotice"));
    notice->setWordWrap(true);
    notice->setTextFormat(Qt::PlainText);
    notice->setMargin(8);
    notice->setStyleSheet(QStringLiteral("background: #fff4c4; color: #222; border-bottom: 1px solid #d9c77a;"));
    notice->hide();
    web->setPage(new ServicePage(this, service));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(notice);
    layout->addWidget(web, 1);
    resize(1024, 720);
    connect(web, &QWebEngineView::titleChanged, this, &PageWindow::updateTitle);
    connect(web, &QWebEngineView::urlChanged, this, &PageWindow::updateTitle);
    connect(web, &QWebEngineView::loadFinished, this, &PageWindow::changed);
}

void PageWindow::load(const QUrl &url, bool post, const QByteArray &body)
{
    tell({});
    QWebEngineHttpRequest request(url, post ? QWebEngineHttpRequest::Post : QWebEngineHttpRequest::Get);
    if (post)
        request.setPostData(body);
    web->load(request);
}

QString PageWindow::noticeText() const
{
    return notice->isHidden() ? QString() : notice->text();
}

void PageWindow::tell(const QString &text)
{
    if (text == noticeText())
        return;
    notice->setText(text);
    notice->setVisible(!text.isEmpty());
    emit changed();
}

void PageWindow::updateTitle()
{
    const QUrl url = web->url();
    const QString title = web->title();
    // Without a title of its own the view gives the address instead.
    const bool titled = !title.isEmpty() && title != url.toDisplayString() && title != url.toString();
    if (Navigation::sameOrigin(service, url) || url.host().isEmpty()) {
        setWindowTitle(titled ? title : QString());
    } else {
        // The port too where it is not the scheme's own: it tells origins on
        // one host apart.
        const QString where = url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
        setWindowTitle(titled ? tr("%1 \u2014 %2").arg(where, title) : where);
    }
    emit changed();
}

void PageWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit changed();
}

void PageWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit changed();
}

void PageWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        emit changed();
}

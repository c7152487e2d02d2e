#include "gui/helpwindow.h"

#include "appinfo.h"
#include "gui/helpfiles.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

HelpWindow::HelpWindow(const QString &folder, UserDialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_folder(folder), m_dialogs(dialogs), m_contents(new QListWidget(this)),
      m_browser(new QTextBrowser(this))
{
    setObjectName(u"frmHelp"_s);
    setWindowTitle(appTitle() + u" Help"_s);
    m_back = makeButton(u"cmdHelpBack"_s, u"&Back"_s, u"The page shown before"_s, this);
    m_forward = makeButton(u"cmdHelpForward"_s, u"&Forward"_s, u"The page shown after"_s, this);
    m_contents->setObjectName(u"lstHelpTopics"_s);
    m_browser->setObjectName(u"txtHelp"_s);
    m_browser->setSearchPaths({folder});
    // Pages of the help open here; anything else (a web site, an e-mail address) on the desktop.
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
        if (url.isRelative() || url.isLocalFile())
            m_browser->setSource(url);
        else
            m_dialogs.openUrl(url);
    });
    for (const HelpTopic &topic : helpTopics()) {
        auto *item = new QListWidgetItem(QString::fromLatin1(topic.title), m_contents);
        item->setData(Qt::UserRole, QString::fromLatin1(topic.page));
    }
    connect(m_contents, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { showPage(item->data(Qt::UserRole).toString()); });
    connect(m_contents, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { showPage(item->data(Qt::UserRole).toString()); });
    connect(m_back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::pageChanged);
    m_back->setEnabled(false);
    m_forward->setEnabled(false);

    auto *close = makeButton(u"cmdHelpClose"_s, u"&Close"_s, u"Close the help"_s, this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *splitter = new QSplitter(this);
    splitter->addWidget(m_contents);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    m_contents->setMinimumWidth(m_contents->sizeHintForColumn(0) + 24);
    splitter->setSizes({m_contents->minimumWidth(), 700});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    fitToScreen(this, QSize(900, 640));
}

void HelpWindow::keyPressEvent(QKeyEvent *event)
{
    // A window of its own rather than a dialog, so Esc closes it here, as it closes a dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HelpWindow::showContext(int context)
{
    for (const HelpTopic &topic : helpTopics()) {
        if (topic.context == context) {
            showPage(QString::fromLatin1(topic.page));
            return;
        }
    }
}

void HelpWindow::showPage(const QString &page)
{
    const QFileInfo file(QDir(m_folder).filePath(page));
    if (m_folder.isEmpty() || !file.isFile()) {
        m_browser->setHtml(u"<h1>No help found</h1><p>The help pages were not found beside the program%1.</p>"_s.arg(
            m_folder.isEmpty() ? QString() : u" (in "_s + QDir::toNativeSeparators(m_folder).toHtmlEscaped() + u')'));
        return;
    }
    m_browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
}

void HelpWindow::pageChanged()
{
    // The contents follow the page shown, whichever way it was reached.
    const QString page = m_browser->source().fileName();
    for (int i = 0; i < m_contents->count(); ++i) {
        if (m_contents->item(i)->data(Qt::UserRole).toString() == page) {
            QSignalBlocker block(m_contents);
            m_contents->setCurrentRow(i);
        }
    }
}

} // namespace quorvale

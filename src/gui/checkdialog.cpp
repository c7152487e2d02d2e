#include "gui/checkdialog.h"

#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace quorvale {

void CheckTableModel::setReport(const CheckReport *report)
{
    beginResetModel();
    m_report = report;
    endResetModel();
}

bool CheckTableModel::isFlagged(int row) const
{
    return m_report && row >= 0 && size_t(row) < m_report->rows.size() && bool(m_report->rows[size_t(row)].flags);
}

QStringList CheckTableModel::tickedClients() const
{
    QStringList ticked;
    QSet<QString> seen;
    if (!m_report)
        return ticked;
    for (const CheckRow &row : m_report->rows) {
        const QString id = row.clientId.trimmed();
        if (isTicked(row) && !seen.contains(id)) {
            seen.insert(id);
            ticked.append(id);
        }
    }
    return ticked;
}

bool CheckTableModel::anyTicked() const
{
    return m_report && std::any_of(m_report->rows.cbegin(), m_report->rows.cend(),
                                   [this](const CheckRow &row) { return isTicked(row); });
}

void CheckTableModel::tickAll(bool ticked)
{
    if (!m_report)
        return;
    for (const CheckRow &row : m_report->rows) {
        if (ticked)
            m_unticked.remove(row.clientId.trimmed());
        else
            m_unticked.insert(row.clientId.trimmed());
    }
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, LineColumn), index(rowCount() - 1, LineColumn), {Qt::CheckStateRole});
}

bool CheckTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!m_report || role != Qt::CheckStateRole || index.column() != LineColumn ||
        size_t(index.row()) >= m_report->rows.size())
        return false;
    const QString id = m_report->rows[size_t(index.row())].clientId.trimmed();
    if (value.value<Qt::CheckState>() == Qt::Checked)
        m_unticked.remove(id);
    else
        m_unticked.insert(id);
    // Every line with the same identifier changes with it.
    Q_EMIT dataChanged(this->index(0, LineColumn), this->index(rowCount() - 1, LineColumn), {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags CheckTableModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.isValid() && index.column() == LineColumn ? base | Qt::ItemIsUserCheckable : base;
}

int CheckTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_report ? 0 : int(m_report->rows.size());
}

int CheckTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CheckTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_report || !index.isValid() || size_t(index.row()) >= m_report->rows.size())
        return {};
    const CheckRow &row = m_report->rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case LineColumn:
            return row.lineNumber;
        case ClientIdColumn:
            return row.clientId;
        case AddressColumn:
            return row.address;
        case ActionColumn:
            return checkActionText(row);
        case FlagsColumn:
            return checkFlagsText(row);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == ActionColumn && !row.file.isEmpty())
            return QDir::toNativeSeparators(row.file);
        if (index.column() == FlagsColumn && bool(row.flags))
            return checkFlagsText(row);
        break;
    case Qt::CheckStateRole:
        if (index.column() == LineColumn)
            return isTicked(row) ? Qt::Checked : Qt::Unchecked;
        break;
    case Qt::DecorationRole:
        if (index.column() == LineColumn && bool(row.flags))
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        break;
    case CheckTableModel::FlaggedRole:
        return bool(row.flags) ? u"flagged"_s : QString();
    case Qt::BackgroundRole:
        if (bool(row.flags))
            return QColor(255, 236, 179);
        break;
    case Qt::ForegroundRole:
        if (bool(row.flags))
            return QColor(Qt::black);
        break;
    default:
        break;
    }
    return {};
}

QVariant CheckTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case LineColumn:
        return u"Line"_s;
    case ClientIdColumn:
        return u"Client ID"_s;
    case AddressColumn:
        return u"Address"_s;
    case ActionColumn:
        return u"A run would"_s;
    case FlagsColumn:
        return u"Flags"_s;
    }
    return {};
}

CheckDialog::CheckDialog(UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs)
{
    setObjectName(u"frmCheck"_s);
    setWindowTitle(u"Check Client List"_s);
    setModal(false);

    m_summary = makeLabel(u"lblCheckSummary"_s, QString(), this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setWordWrap(true);
    m_flaggedOnly = new QCheckBox(u"Show &flagged rows only"_s, this);
    m_flaggedOnly->setObjectName(u"chkFlaggedOnly"_s);

    m_model = new CheckTableModel(this);
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_model);
    m_filter->setFilterRole(CheckTableModel::FlaggedRole);
    m_table = new QTableView(this);
    m_table->setObjectName(u"tblCheck"_s);
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Fixed row heights keep a table of many thousand clients quick to show and scroll.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    m_save = makeButton(u"cmdSaveCsv"_s, u"&Save as CSV..."_s, u"Save the table as a CSV file"_s, this);
    auto *close = makeButton(u"cmdCloseCheck"_s, u"&Close"_s, QString(), this);
    auto *preview = makeButton(u"cmdPreviewRow"_s, u"&Preview Message..."_s,
                               u"Show the selected client's message as it would be sent (or double-click a row)"_s, this);
    m_sendTicked = makeButton(u"cmdSendTicked"_s, u"Send to &ticked clients only"_s,
                              u"Start a run that goes to the ticked clients only; the others are left out (click the "
                              "Line heading to tick all or none)"_s,
                              this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_flaggedOnly);
    buttons->addStretch(1);
    buttons->addWidget(m_sendTicked);
    buttons->addWidget(preview);
    buttons->addWidget(m_save);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    connect(m_flaggedOnly, &QCheckBox::toggled, this, &CheckDialog::setFlaggedOnly);
    connect(m_save, &QPushButton::clicked, this, &CheckDialog::saveAsCsv);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_table, &QTableView::doubleClicked, this, &CheckDialog::previewRow);
    connect(preview, &QPushButton::clicked, this, [this] { previewRow(m_table->currentIndex()); });
    connect(m_sendTicked, &QPushButton::clicked, this, &CheckDialog::sendToTicked);
    // The Line heading ticks every client, or, with any ticked, none.
    connect(m_table->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == CheckTableModel::LineColumn)
            m_model->tickAll(!m_model->anyTicked());
    });
    fitToScreen(this, QSize(900, 560));
}

CheckDialog::~CheckDialog() = default;

void CheckDialog::previewRow(const QModelIndex &index)
{
    const QModelIndex source = m_filter->mapToSource(index);
    if (source.isValid() && size_t(source.row()) < m_report.rows.size())
        Q_EMIT previewRequested(m_report.rows[size_t(source.row())].lineNumber);
}

void CheckDialog::startCheck(const CheckRequest &request)
{
    if (m_worker.isRunning()) {
        m_pending = request;
        return;
    }
    m_summary->setText(u"Checking the client list..."_s);
    m_save->setEnabled(false);
    m_sendTicked->setEnabled(false);
    CheckRequest withOwn = request;
    if (withOwn.programFiles.isEmpty())
        withOwn.programFiles = m_programFiles;
    m_worker.start(
        u"Quorvale check"_s,
        [this, withOwn, add = m_addToReport] {
            m_result = checkClientList(withOwn);
            if (add && m_result.error.isEmpty())
                add(m_result);
        },
        [this] { workerFinished(); });
}

void CheckDialog::workerFinished()
{
    showReport(std::exchange(m_result, {}));
    if (m_pending)
        startCheck(*std::exchange(m_pending, std::nullopt));
    else
        Q_EMIT checked();
}

void CheckDialog::showReport(CheckReport report)
{
    m_model->setReport(nullptr);
    m_report = std::move(report);
    m_model->setReport(&m_report);
    m_summary->setText(checkSummary(m_report).join(u'\n'));
    m_save->setEnabled(m_report.error.isEmpty());
    m_sendTicked->setEnabled(m_report.error.isEmpty() && !m_report.rows.empty());
    setFlaggedOnly(m_flaggedOnly->isChecked());
    m_table->resizeColumnsToContents();
}

void CheckDialog::setFlaggedOnly(bool on)
{
    m_filter->setFilterFixedString(on ? u"flagged"_s : QString());
}

void CheckDialog::sendToTicked()
{
    const QStringList ticked = m_model->tickedClients();
    if (ticked.isEmpty()) {
        m_dialogs.warn(this, u"No client is ticked: tick the clients to send to."_s);
        return;
    }
    Q_EMIT sendToTickedRequested(ticked);
}

void CheckDialog::saveAsCsv()
{
    const QString start = m_lastSaved.isEmpty() ? QDir::homePath() : QFileInfo(m_lastSaved).absolutePath();
    const QString path = m_dialogs.chooseSaveFile(this, u"Save Check as CSV"_s, u"CSV File (*.csv);;All Files (*)"_s,
                                                  start, u"ClientCheck.csv"_s);
    if (path.isEmpty())
        return;
    QString error;
    // The file dialog asked before an existing file is replaced; the program's own never are.
    if (!saveCheckCsv(m_report, path, ExistingFile::Replace, &error)) {
        m_dialogs.warn(this, u"The check could not be saved to %1:\n%2"_s.arg(QDir::toNativeSeparators(path), error));
        return;
    }
    m_lastSaved = path;
}

} // namespace quorvale

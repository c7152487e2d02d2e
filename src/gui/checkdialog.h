#pragma once

#include "check/clientcheck.h"
#include "gui/workerthread.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QSet>
#include <QSortFilterProxyModel>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace quorvale {

class UserDialogs;

/// The rows of a check: line, client ID, address, what a run would do, and the flags.
class CheckTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CheckTableModel)

public:
    enum Column
    {
        LineColumn,
        ClientIdColumn,
        AddressColumn,
        ActionColumn,
        FlagsColumn,
        ColumnCount
    };
    /// "flagged" for a flagged row, empty otherwise: what the filter matches.
    static constexpr int FlaggedRole = Qt::UserRole;
    using QAbstractTableModel::QAbstractTableModel;

    void setReport(const CheckReport *report);
    bool isFlagged(int row) const;
    /// The ticked clients' identifiers, each once, in list order. Clients are ticked by their
    /// identifier: the lines that share one are ticked together, as a run chooses them.
    QStringList tickedClients() const;
    /// Ticks every client, or none.
    void tickAll(bool ticked);
    /// Whether any client is ticked.
    bool anyTicked() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool isTicked(const CheckRow &row) const { return !m_unticked.contains(row.clientId.trimmed()); }

    const CheckReport *m_report = nullptr;
    /// The identifiers unticked; kept over a new check, so that a client added since is ticked.
    QSet<QString> m_unticked;
};

/// frmCheck: the summary of a check above its table; flagged rows marked and filterable, and
/// the table saved as a CSV file. Non-modal; a new check replaces the shown one.
class CheckDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CheckDialog)

public:
    CheckDialog(UserDialogs &dialogs, QWidget *parent = nullptr);
    ~CheckDialog() override;
    /// Checks on a worker thread (a folder on a network share may be slow to list) and shows the
    /// result when done. A request made while a check runs is checked once that one is done.
    void startCheck(const CheckRequest &request);
    void showReport(CheckReport report);
    const CheckReport &report() const { return m_report; }
    /// The program's own files for checks whose request names none; none unless set.
    void setProgramFiles(const ProgramFiles &files) { m_programFiles = files; }
    bool isChecking() const { return m_worker.isRunning(); }
    /// Adds to each report on the check's worker thread (the bounced addresses of the journals).
    void setAddToReport(std::function<void(CheckReport &)> add) { m_addToReport = std::move(add); }

Q_SIGNALS:
    /// A check has finished and its result is shown.
    void checked();
    /// The user asked to see the message of the client on this line of the client list.
    void previewRequested(qint64 line);
    /// "Send to ticked clients only": a run over these clients (by identifier) only.
    void sendToTickedRequested(const QStringList &clients);

private:
    void workerFinished();
    void previewRow(const QModelIndex &index);
    void saveAsCsv();
    void setFlaggedOnly(bool on);
    void sendToTicked();

    UserDialogs &m_dialogs;
    CheckReport m_report;
    CheckTableModel *m_model = nullptr;
    QSortFilterProxyModel *m_filter = nullptr;
    QLabel *m_summary = nullptr;
    QCheckBox *m_flaggedOnly = nullptr;
    QTableView *m_table = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_sendTicked = nullptr;
    QString m_lastSaved;
    ProgramFiles m_programFiles;
    std::function<void(CheckReport &)> m_addToReport;
    CheckReport m_result; ///< written by the worker, read once it has finished
    std::optional<CheckRequest> m_pending;
    WorkerThread m_worker{this}; ///< after what its work uses, so that it goes first
};

} // namespace quorvale

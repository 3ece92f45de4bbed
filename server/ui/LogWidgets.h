#pragma once
// The Log page's parts: the grid's model, which fetches rows page by page
// as the grid scrolls, and a drop-down list that asks to be refilled when it
// gets the focus or opens.

#include <QAbstractTableModel>
#include <QComboBox>

#include <functional>
#include <optional>
#include <vector>

#include "server/log/LogDatabase.h"

namespace velora::server::ui {

class LogTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // A page of rows older than the given id (newest first); nullopt on failure.
    using Fetch = std::function<std::optional<std::vector<log::LogRow>>(std::optional<std::int64_t> beforeId, int limit)>;
    static constexpr int kPage = 256;

    using QAbstractTableModel::QAbstractTableModel;
    // Starts again from the newest row; false when the first page failed,
    // which leaves the rows shown before.
    bool reload(Fetch fetch);
    const std::vector<log::LogRow> &rows() const { return rows_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    Fetch fetch_;
    std::vector<log::LogRow> rows_;
    bool complete_ = true;
};

// The audit tab: the newest rows of the period, up to a bound.
class AuditTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr std::size_t kMostShown = 2000;

    using QAbstractTableModel::QAbstractTableModel;
    // False when the rows could not be read, which leaves those shown
    // before. `total` counts every row of the period.
    bool reload(log::LogDatabase &book, const log::LogFilter &filter);
    const std::vector<log::AuditRow> &rows() const { return rows_; }
    std::size_t total() const { return total_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<log::AuditRow> rows_;
    std::size_t total_ = 0;
};

class RefillingComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void entered();

protected:
    void focusInEvent(QFocusEvent *event) override;
};

}  // namespace velora::server::ui

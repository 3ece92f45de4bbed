#include "server/ui/LogWidgets.h"

#include <QDateTime>

#include <algorithm>
#include <QFocusEvent>

#include "server/state/Text.h"

namespace velora::server::ui {

namespace {

struct Column {
    const char *title;
    const std::string log::LogRow::*field;
};
const Column kColumns[] = {{"Date", &log::LogRow::tanggal},          {"Time", &log::LogRow::waktu},
                           {"User", &log::LogRow::usera},            {"Dial up entry", &log::LogRow::entry},
                           {"Speed", &log::LogRow::speed},           {"Duration", &log::LogRow::duration}};

}  // namespace

bool LogTableModel::reload(Fetch fetch)
{
    auto first = fetch ? fetch(std::nullopt, kPage) : std::nullopt;
    if (!first)
        return false;
    beginResetModel();
    fetch_ = std::move(fetch);
    rows_ = std::move(*first);
    complete_ = rows_.size() < static_cast<std::size_t>(kPage);
    endResetModel();
    return true;
}

int LogTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 6; }

QVariant LogTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() || index.column() >= 6)
        return {};
    return state::shownText(rows_[static_cast<std::size_t>(index.row())].*kColumns[index.column()].field);
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= 6)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignCenter);
    return {};
}

bool LogTableModel::canFetchMore(const QModelIndex &parent) const { return !parent.isValid() && !complete_; }

void LogTableModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || complete_ || !fetch_)
        return;
    auto page = fetch_(rows_.empty() ? std::nullopt : std::optional<std::int64_t>(rows_.back().id), kPage);
    if (!page || page->empty()) {
        complete_ = true;
        return;
    }
    const int from = rowCount();
    beginInsertRows({}, from, from + static_cast<int>(page->size()) - 1);
    complete_ = page->size() < static_cast<std::size_t>(kPage);
    rows_.insert(rows_.end(), std::make_move_iterator(page->begin()), std::make_move_iterator(page->end()));
    endInsertRows();
}

namespace {
const char *const kAuditColumns[] = {"Time", "User", "Host", "Address", "Action", "Detail"};
}

bool AuditTableModel::reload(log::LogDatabase &book, const log::LogFilter &filter)
{
    std::vector<log::AuditRow> rows;
    const bool read = book.readAudit(
        filter,
        [&](const log::AuditRow &r) {
            rows.push_back(r);
            return true;
        },
        static_cast<int>(kMostShown));
    const auto total = read ? book.auditCount(filter) : std::nullopt;
    if (!total)
        return false;
    beginResetModel();
    rows_ = std::move(rows);
    total_ = static_cast<std::size_t>(std::max<std::int64_t>(*total, static_cast<std::int64_t>(rows_.size())));
    endResetModel();
    return true;
}

int AuditTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int AuditTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 6; }

QVariant AuditTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() || index.column() >= 6)
        return {};
    const log::AuditRow &r = rows_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case 0:
        return QDateTime::fromSecsSinceEpoch(r.time).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case 1:
        return state::shownText(r.user);
    case 2:
        return state::shownText(r.host);
    case 3:
        return state::shownText(r.address);
    case 4:
        return state::shownText(r.action);
    default:
        return state::shownText(r.detail);
    }
}

QVariant AuditTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= 6 || role != Qt::DisplayRole)
        return {};
    return QString::fromLatin1(kAuditColumns[section]);
}

void RefillingComboBox::showPopup()
{
    emit entered();
    QComboBox::showPopup();
}

void RefillingComboBox::focusInEvent(QFocusEvent *event)
{
    // Only the keyboard brings a person here without opening the list. The
    // focus also comes back as a chosen item's popup closes, before the
    // choice is taken: a refill then would lose it.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        emit entered();
    QComboBox::focusInEvent(event);
}

}  // namespace velora::server::ui

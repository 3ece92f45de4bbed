#include <QComboBox>
#include <QDate>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QDate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "server/frame/LinePolicy.h"
#include "server/frame/OperatorConsole.h"
#include "server/log/ReportJob.h"
#include "server/state/Text.h"
#include "server/ui/LogWidgets.h"
#include "server/ui/Named.h"
#include "server/ui/TForm1.h"
#include "server/ui/UsageTab.h"

// The Log page: the grid, its filter lists and summary, clearing and reports.

namespace velora::server::ui {

namespace {

const char *const kMonths[] = {"All",  "January", "February",  "March",   "April",    "May",     "June",
                               "July", "August",  "September", "October", "November", "December"};

// Names keep their stored bytes beside the text shown.
void fillNames(QComboBox *box, const std::optional<std::vector<std::string>> &names)
{
    // The same names again leave the list, and the choice in it, alone.
    if (names && static_cast<std::size_t>(box->count()) == names->size() + 1) {
        bool same = true;
        for (std::size_t i = 0; same && i < names->size(); ++i)
            same = box->itemData(static_cast<int>(i) + 1).toByteArray() == QByteArray::fromStdString((*names)[i]);
        if (same)
            return;
    }
    const QByteArray chosen = box->currentIndex() > 0 ? box->currentData().toByteArray() : QByteArray();
    box->clear();
    box->addItem(QStringLiteral("All"));
    if (names)
        for (const std::string &n : *names)
            box->addItem(state::shownText(n), QByteArray::fromStdString(n));
    const int again = chosen.isEmpty() ? -1 : box->findData(chosen);
    box->setCurrentIndex(again > 0 ? again : 0);
}

std::optional<std::string> chosenName(const QComboBox *box)
{
    if (box->currentIndex() <= 0)
        return std::nullopt;  // "All", or nothing chosen
    return box->currentData().toByteArray().toStdString();
}

// Index i of the month and year lists stands for the two digits of i.
std::optional<std::string> twoDigits(const QComboBox *box)
{
    const int i = box->currentIndex();
    if (i <= 0 || box->currentText().isEmpty())
        return std::nullopt;
    return (i < 10 ? "0" : "") + std::to_string(i);
}

std::string headingText(const QComboBox *box)
{
    if (box->currentIndex() < 0 || box->currentText().isEmpty())
        return "All";
    return box->currentIndex() > 0 && box->currentData().isValid() ? box->currentData().toByteArray().toStdString()
                                                                   : state::typedText(box->currentText());
}

}  // namespace

QWidget *TForm1::buildLogPage()
{
    auto *tablog = named(new QWidget, "Tablog");
    logTabs = named(new QTabWidget(tablog), "logTabs");
    auto *outer = new QVBoxLayout(tablog);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(logTabs);
    auto *page = named(new QWidget, "TabConnections");
    logTabs->addTab(page, QStringLiteral("Connections"));
    logTabs->addTab(buildAuditTab(), QStringLiteral("Audit"));
    usageTab_ = new UsageTab;
    logTabs->addTab(usageTab_, QStringLiteral("Usage"));
    connect(logTabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1 && auditStale_)
            showAudit();
        if (index == 2 && usageStale_)
            showUsage();
    });
    // Read when seen: a minute's bytes need no redraw behind another tab.
    connect(&console_, &frame::OperatorConsole::usageChanged, this, [this] {
        usageStale_ = true;
        if (logTabs->currentIndex() == 2 && logTabs->isVisible())
            showUsage();
    });

    logModel_ = new LogTableModel(this);
    DBGrid1 = named(new QTableView(page), "DBGrid1");
    DBGrid1->setModel(logModel_);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setShowGrid(true);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    DBGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    const int widths[] = {91, 88, 102, 150, 95, 96};
    for (int c = 0; c < 6; ++c)
        DBGrid1->setColumnWidth(c, widths[c]);

    Label45 = named(new QLabel(QStringLiteral("Disabled"), page), "Label45");
    Label45->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    Label45->hide();

    auto *summary = named(new QGroupBox(QStringLiteral("Summary"), page), "GroupBox5");
    auto *sums = new QGridLayout(summary);
    const std::pair<QLabel **, const char *> values[] = {{&Label28, "Connection count :"},
                                                         {&Label29, "Everage speed     :"},
                                                         {&Label32, "Total time   :"},
                                                         {&Label33, "Total cost   :"}};
    const char *const names[] = {"Label28", "Label29", "Label32", "Label33"};
    for (int i = 0; i < 4; ++i) {
        *values[i].first = named(new QLabel(QStringLiteral("0"), summary), names[i]);
        sums->addWidget(new QLabel(QString::fromLatin1(values[i].second), summary), i / 2, (i % 2) * 2);
        sums->addWidget(*values[i].first, i / 2, (i % 2) * 2 + 1);
    }
    LbMonthCost = named(new QLabel(QStringLiteral("--"), summary), "LbMonthCost");
    sums->addWidget(new QLabel(QStringLiteral("This month   :"), summary), 2, 0);
    sums->addWidget(LbMonthCost, 2, 1, 1, 3);
    sums->setColumnStretch(1, 1);
    sums->setColumnStretch(3, 1);

    auto *manager = named(new QGroupBox(QStringLiteral(" Log manager "), page), "GroupBox6");
    auto *lists = new QVBoxLayout(manager);
    auto list = [&](const char *name, const char *title) {
        auto *box = named(new RefillingComboBox(manager), name);
        box->setEditable(false);  // only choices from the list
        box->setMinimumContentsLength(12);
        lists->addWidget(new QLabel(QString::fromLatin1(title), manager));
        lists->addWidget(box);
        return box;
    };
    auto *entries = list("ComboBox1", "entry");
    auto *users = list("ComboBox4", "user");
    ComboBox1 = entries;
    ComboBox4 = users;
    ComboBox2 = list("ComboBox2", "month");
    for (const char *m : kMonths)
        ComboBox2->addItem(QString::fromLatin1(m));
    ComboBox3 = list("ComboBox3", "year");
    ComboBox3->addItem(QStringLiteral("All"));
    // Up to this year, so the year list never runs out.
    for (int y = 2001; y <= std::max(2001, QDate::currentDate().year()); ++y)
        ComboBox3->addItem(QString::number(y));
    connect(entries, &RefillingComboBox::entered, this, &TForm1::ComboBox1Enter);
    connect(users, &RefillingComboBox::entered, this, &TForm1::ComboBox4Enter);

    auto logButton = [&](const char *name, const char *text) {
        auto *b = named(new QPushButton(QString::fromLatin1(text), manager), name);
        b->setAutoDefault(false);
        lists->addWidget(b);
        return b;
    };
    lists->addSpacing(6);
    SpeedButton5 = logButton("SpeedButton5", "Sort log");
    SpeedButton2 = logButton("SpeedButton2", "Clear log");
    Button4 = logButton("Button4", "Create report");
    lists->addStretch();
    connect(SpeedButton5, &QPushButton::clicked, this, &TForm1::SpeedButton5Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);

    auto *left = new QVBoxLayout;
    left->addWidget(DBGrid1, 1);
    left->addWidget(summary);
    auto *right = new QVBoxLayout;
    right->addWidget(Label45, 0, Qt::AlignRight);
    right->addWidget(manager, 1);
    auto *all = new QHBoxLayout(page);
    all->addLayout(left, 1);
    all->addLayout(right);
    return tablog;
}

void TForm1::showUsage()
{
    usageStale_ = false;
    const frame::PolicySettings &policy = console_.settings().policy;
    usageTab_->refresh(console_.logBook(), policy.billingday, policy.capBytes(), QDate::currentDate());
}

QWidget *TForm1::buildAuditTab()
{
    auto *tab = named(new QWidget, "TabAudit");
    auditModel_ = new AuditTableModel(this);
    DBGridAudit = named(new QTableView(tab), "DBGridAudit");
    DBGridAudit->setModel(auditModel_);
    DBGridAudit->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGridAudit->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridAudit->verticalHeader()->hide();
    DBGridAudit->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {140, 90, 150, 110, 80};
    for (int c = 0; c < 5; ++c)
        DBGridAudit->setColumnWidth(c, widths[c]);
    LbAuditCount = named(new QLabel(tab), "LbAuditCount");
    auto *layout = new QVBoxLayout(tab);
    layout->addWidget(DBGridAudit, 1);
    layout->addWidget(LbAuditCount);
    return tab;
}

void TForm1::showAudit()
{
    log::LogDatabase *book = console_.logBook();
    if (!book || !auditModel_->reload(*book, logFilter_)) {
        LbAuditCount->setText(QStringLiteral("The audit trail cannot be read."));
        return;
    }
    auditStale_ = false;
    const std::size_t shown = auditModel_->rows().size(), total = auditModel_->total();
    LbAuditCount->setText(shown < total ? QStringLiteral("The newest %1 of %2 rows of the period; the report holds them all.")
                                              .arg(shown)
                                              .arg(total)
                                        : QStringLiteral("%1 %2 in the period (month and year of the log manager).")
                                              .arg(total)
                                              .arg(total == 1 ? QStringLiteral("row") : QStringLiteral("rows")));
}

void TForm1::showMonthCost()
{
    log::LogDatabase *book = console_.logBook();
    const auto cost = book ? book->costTenThousandths(log::monthOf(QDate::currentDate())) : std::nullopt;
    if (!cost) {
        LbMonthCost->setText(QStringLiteral("--"));
        return;
    }
    LbMonthCost->setText(state::shownText(log::formatCost(*cost, console_.numberSeparators()) +
                                          frame::ofBudget(console_.settings().policy.monthlybudget)));
}

void TForm1::ComboBox1Enter()
{
    log::LogDatabase *book = console_.logBook();
    fillNames(ComboBox1, book ? book->distinctEntries() : std::nullopt);
}

void TForm1::ComboBox4Enter()
{
    log::LogDatabase *book = console_.logBook();
    fillNames(ComboBox4, book ? book->distinctUsers() : std::nullopt);
}

void TForm1::sortlog()
{
    logFilter_ = log::LogFilter{twoDigits(ComboBox2), twoDigits(ComboBox3), chosenName(ComboBox1),
                                chosenName(ComboBox4)};
    Showlog();
}

void TForm1::Showlog()
{
    log::LogDatabase *book = console_.logBook();
    if (!book)
        return;  // no log: the page keeps what it shows
    const log::LogFilter filter = logFilter_;
    if (!logModel_->reload([book, filter](std::optional<std::int64_t> before, int limit) {
            return book->rows(filter, before, limit);
        }))
        return;
    const auto s = book->summary(filter);
    if (!s)
        return;
    const log::SummaryTexts t = log::summaryTexts(*s, console_.numberSeparators());
    Label28->setText(state::shownText(t.count));
    Label32->setText(state::shownText(t.time));
    Label29->setText(state::shownText(t.speed));
    Label33->setText(state::shownText(t.cost));
    showMonthCost();
    auditStale_ = true;
    if (logTabs->currentIndex() == 1)
        showAudit();
}

void TForm1::fillLogLists()
{
    ComboBox1Enter();
    ComboBox4Enter();
    ComboBox1->setCurrentIndex(0);
    ComboBox4->setCurrentIndex(0);
    const QDate today = QDate::currentDate();
    ComboBox2->setCurrentIndex(today.month());
    const int year = today.year() % 100;
    ComboBox3->setCurrentIndex(year < ComboBox3->count() ? year : -1);
    sortlog();
}

void TForm1::showLoggingDisabled() { Label45->setVisible(!console_.settings().connectionLogging); }

void TForm1::SpeedButton5Click() { sortlog(); }

void TForm1::SpeedButton2Click()
{
    // The rows shown: the filter of the last sort, whatever the lists say now.
    if (console_.clearLog(logFilter_, prompter_))
        Showlog();
}

QString TForm1::chooseReportFile(const QString &proposed, bool textOnly)
{
    QFileDialog dialog(this, QStringLiteral("Save report"));
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QString workbook = QStringLiteral("Workbook (*.xlsx)"), text = QStringLiteral("Tab delimited text (*.txt)");
    dialog.setNameFilters(textOnly ? QStringList{text} : QStringList{workbook, text});
    dialog.setDefaultSuffix(textOnly ? QStringLiteral("txt") : QStringLiteral("xlsx"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, text](const QString &f) {
        dialog.setDefaultSuffix(f == text ? QStringLiteral("txt") : QStringLiteral("xlsx"));
    });
    dialog.setDirectory(reportDir_.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                                             : reportDir_);
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    reportDir_ = dialog.directory().absolutePath();
    return dialog.selectedFiles().constFirst();
}

void TForm1::Button4Click()
{
    if (reportJob_->running())
        return;
    sortlog();
    reportHeading_ = log::ReportHeading{headingText(ComboBox2), headingText(ComboBox3), headingText(ComboBox1),
                                        headingText(ComboBox4)};
    reportFilter_ = logFilter_;
    const QString path = saveChooser_(state::shownText(log::reportFileName(reportHeading_, log::ReportFormat::Workbook)),
                                      false);
    if (!path.isEmpty())
        startReport(path, log::reportFormatFor(state::typedText(path)));
}

void TForm1::startReport(const QString &path, log::ReportFormat format)
{
    const std::string file = state::typedText(path);
    reportFormat_ = format;
    reportStopped_ = false;
    reportJob_->start(console_.logPath(), reportFilter_, reportHeading_, console_.numberSeparators(), file,
                      reportFormat_);
    reportProgress_ = new QProgressDialog(QStringLiteral("Writing the report..."), QStringLiteral("Cancel"), 0, 0, this);
    reportProgress_->setObjectName(QStringLiteral("reportProgress"));
    reportProgress_->setWindowTitle(QStringLiteral("Create report"));
    reportProgress_->setWindowModality(Qt::WindowModal);
    reportProgress_->setMinimumDuration(400);
    reportProgress_->setAttribute(Qt::WA_DeleteOnClose);
    connect(reportProgress_, &QProgressDialog::canceled, this, [this] {
        reportStopped_ = true;
        reportJob_->stop();
    });
    reportPath_ = path;
}

void TForm1::reportProgressed(qint64 done, qint64 total)
{
    if (!reportProgress_)
        return;
    // Scaled so that counts beyond an int still move the bar.
    const qint64 scale = total > 1000000 ? total / 1000000 + 1 : 1;
    reportProgress_->setMaximum(static_cast<int>(total / scale));
    reportProgress_->setValue(static_cast<int>(std::min(done, total) / scale));
}

void TForm1::reportFinished(bool ok, const QString &why)
{
    if (reportProgress_) {
        // Closing a progress dialog counts as its Cancel.
        reportProgress_->disconnect(this);
        reportProgress_->close();
        reportProgress_ = nullptr;
    }
    if (ok) {
        statusBar()->showMessage(QStringLiteral("The report was written to ") + reportPath_, 10000);
        emit reportWritten(reportPath_);
        return;
    }
    if (reportStopped_)
        return;
    if (reportFormat_ == log::ReportFormat::Workbook) {
        // Only a workbook that cannot be written falls back to the text file.
        if (prompter_.ask("You do not have MS Excel installed, Velora will save the report in \"Tab delimiter\" "
                          "format.\nSo you can open the file with another Spread sheet programs",
                          {Prompter::Button::Ok, Prompter::Button::Cancel}) != Prompter::Button::Ok)
            return;
        const QString path =
            saveChooser_(state::shownText(log::reportFileName(reportHeading_, log::ReportFormat::Text)), true);
        if (!path.isEmpty())
            startReport(path, log::ReportFormat::Text);
        return;
    }
    prompter_.tell(Prompter::Kind::Error, "The report could not be written: " + why.toStdString());
}

}  // namespace velora::server::ui

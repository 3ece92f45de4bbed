// The real message boxes: whose window they belong to, and where the focus
// goes back to after them.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets/MessageBoxPrompter.h"

using velora::Prompter;
using velora::widgets::MessageBoxPrompter;

class PrompterTest : public QObject {
    Q_OBJECT
private slots:
    void theFocusGoesBackToTheEditorThatAsked()
    {
        QWidget main;
        MessageBoxPrompter prompter(QStringLiteral("Velora"), &main);
        main.show();
        QDialog editor(&main);
        auto *layout = new QVBoxLayout(&editor);
        auto *first = new QLineEdit(&editor), *second = new QLineEdit(&editor);
        layout->addWidget(first);
        layout->addWidget(second);
        editor.show();
        editor.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        second->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), second);

        QWidget *owner = nullptr;
        for (const Prompter::Kind kind : {Prompter::Kind::Information, Prompter::Kind::Question}) {
            QTimer::singleShot(0, this, [&] {
                QWidget *box = QApplication::activeModalWidget();
                QVERIFY(box);
                owner = box->parentWidget();
                static_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
            });
            if (kind == Prompter::Kind::Information)
                prompter.tell(kind, "The passwords do not match");
            else
                prompter.ask("Sure?", {Prompter::Button::Ok, Prompter::Button::Cancel});
            QCOMPARE(owner, &editor);
            QTRY_COMPARE(QApplication::activeWindow(), &editor);
            QTRY_COMPARE(QApplication::focusWidget(), second);
        }
    }
};

QTEST_MAIN(PrompterTest)
#include "PrompterTest.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "DialogPrompts.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace vandrelle;

namespace {

// Runs `act` on the modal window once it is open.
void WhenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        act(QApplication::activeModalWidget());
    });
}

CertificateQuestion Question() {
    return {"srv.example", 3389, "srv", "CN=srv", "CN=srv", "aa:bb:cc", false};
}

}  // namespace

class DialogPromptsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void certificateAnswersFollowTheButtons() {
        QWidget owner;
        DialogPrompts prompts(&owner);
        const struct {
            const char* button;
            CertificateAnswer answer;
        } cases[] = {{"connectOnce", CertificateAnswer::AcceptOnce},
                     {"connectAlways", CertificateAnswer::AcceptAlways}};
        for (const auto& c : cases) {
            WhenModal([&](QWidget* box) {
                QVERIFY(box->findChild<QPushButton*>(QString::fromLatin1(c.button)));
                box->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
            });
            QCOMPARE(prompts.AskCertificate(Question()), c.answer);
        }
        // Closing the question, like Escape, never trusts the server.
        WhenModal([](QWidget* box) { qobject_cast<QMessageBox*>(box)->reject(); });
        QCOMPARE(prompts.AskCertificate(Question()), CertificateAnswer::Reject);
    }

    void certificateTextNamesTheServerAndItsFingerprint() {
        CertificateQuestion q = Question();
        QString text = DialogPrompts::CertificateText(q);
        QVERIFY(text.contains(QStringLiteral("srv.example:3389")));
        QVERIFY(text.contains(QStringLiteral("aa:bb:cc")));
        q.changed = true;
        QVERIFY(DialogPrompts::CertificateText(q).contains(QStringLiteral("changed")));
    }

    void credentialsComeFromTheFieldsOrNotAtAll() {
        QWidget owner;
        DialogPrompts prompts(&owner);
        WhenModal([](QWidget* dialog) {
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("user"))->text(),
                     QStringLiteral("jdoe"));
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("password"))->echoMode(),
                     QLineEdit::Password);
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))
                ->setText(QStringLiteral("pw"));
            qobject_cast<QDialog*>(dialog)->accept();
        });
        const auto answer = prompts.AskCredentials("srv", {"jdoe", "CORP", ""});
        QVERIFY(answer.has_value());
        QCOMPARE(QString::fromStdString(answer->user), QStringLiteral("jdoe"));
        QCOMPARE(QString::fromStdString(answer->domain), QStringLiteral("CORP"));
        QCOMPARE(QString::fromStdString(answer->password), QStringLiteral("pw"));

        WhenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
        QVERIFY(!prompts.AskCredentials("srv", {}).has_value());
    }
};

QTEST_MAIN(DialogPromptsTest)
#include "DialogPromptsTest.moc"

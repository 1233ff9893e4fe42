// SPDX-License-Identifier: GPL-3.0-or-later
// The server tree panel on the offscreen platform, over a real configuration
// file and a frame that records what it is sent.
#include "CServerList.h"
#include "QtTestKit.h"
#include "RecordText.h"
#include "ResourceIds.h"
#include "SessionMessages.h"
#include "TreeNotation.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTreeWidget>

#include <utility>

using namespace vandrelle;
using namespace vandrelle::test;
using namespace Qt::StringLiterals;

namespace {

// Records the messages the panel sends as "find G/a" or "open G/a#command".
class RecordingFrame : public MessageTarget {
public:
    QStringList sent;
    std::intptr_t findResult = 0;

    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t message, std::uintptr_t command,
                       std::intptr_t lParam) override {
        const NodePath path = NodePathFromBuffer(*reinterpret_cast<const PathBuffer*>(lParam));
        QStringList names;
        for (const std::string& name : path.Names()) names << QString::fromStdString(name);
        sent << (message == WM_APP_FIND_SESSION ? u"find "_s : u"open "_s) + names.join(u'/') +
                    (command ? u"#"_s + QString::number(command) : QString());
        return message == WM_APP_FIND_SESSION ? findResult : 0;
    }
    QString Take() { return std::exchange(sent, {}).join(u", "_s); }
};

// A panel over a file that holds `tree` (see TreeFile) and then `more`, with a
// properties sheet that records what it was asked and gives back the record
// it was given, changed by `edit`; Cancel when `cancel` is set.
struct Panel {
    explicit Panel(std::string_view tree, const std::string& more = "")
        : disk(TreeFile(tree, more)), list(disk.config, frame) {
        list.SetSheetRunner([this](QWidget*, const SheetRequest& request, Properties& record) {
            requests.push_back(request);
            given.push_back(record);
            if (!cancel && edit) edit(record);
            return !cancel;
        });
    }
    // The item at "G/sub/t"; "" is the top.
    QTreeWidgetItem* operator[](std::string_view path) const {
        QTreeWidgetItem* item = list.RootItem();
        for (const QString& name : QString::fromUtf8(path).split(u'/', Qt::SkipEmptyParts))
            item = item ? CServerList::FindChildByLabel(item, name) : nullptr;
        return item;
    }
    QTreeWidget* Tree() const { return list.Tree(); }
    void Show() {
        list.resize(400, 400);
        list.show();
        if (!QTest::qWaitForWindowExposed(&list)) qWarning("the panel was not exposed");
    }
    void Command(const char* current, int id) {
        list.SetCurrentItem((*this)[current]);
        list.OnCommand(id);
    }
    // Sends a key to the tree with `selected` selected.
    void Key(const char* selected, Qt::Key key, Qt::KeyboardModifiers with = {}) {
        Tree()->setCurrentItem((*this)[selected]);
        QTest::keyClick(Tree(), key, with);
    }
    bool Saved(const std::string& text) const {
        return disk.Text().find(text) != std::string::npos;
    }
    RecordingFrame frame;
    ConfigOnDisk disk;
    CServerList list;
    std::vector<SheetRequest> requests;
    std::vector<Properties> given;
    std::function<void(Properties&)> edit;
    bool cancel = false;
};

QPoint LabelPoint(QTreeWidget* tree, QTreeWidgetItem* item) {
    const QRect r = tree->visualItemRect(item);
    return QPoint(r.left() + tree->iconSize().width() + 10, r.center().y());
}

}  // namespace

class CServerListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each level is sorted as a whole; a group is collapsed where the file
    // says so; nodes without a name are left out; a name is shown as stored,
    // never reordered by a bidirectional control. The user's collapse
    // reaches the file at once and shows in a new tree; nothing else of the
    // group is rewritten (a password stored under another installation's key
    // stays as it is); the top has its own state.
    void theTreeShowsTheFileAndSavesItsCollapseStates() {
        const std::string spoof = "abc\u202Efdp.exe";
        Panel p(
            "delta Charlie{zulu Yankee} Alpha one[GroupCollapsed=1]{c} bravo[GroupCollapsed=0]{b} "
            "Office[InheritGeneral=0,Password=Zm9yZWlnbiBrZXk=]{a} " +
                spoof + " {hidden} [Server=x]",
            "<!-- a comment does not end the list --><Server><Name>zz</Name></Server>"
            "<Properties><GroupCollapsed>1</GroupCollapsed></Properties>");
        QCOMPARE(ChildLabels(p[""]),
                 QString::fromStdString(spoof + ", Alpha, bravo, Charlie, delta, Office, one, zz"));
        QCOMPARE(ChildLabels(p["Charlie"]), u"Yankee, zulu"_s);
        QString collapsed;
        for (const char* group : {"", "bravo", "Charlie", "one"})
            if (!p[group]->isExpanded()) collapsed += QString::fromUtf8(group) + u'/';
        QCOMPARE(collapsed, u"/one/"_s);
        auto* delegate = qobject_cast<QStyledItemDelegate*>(p.Tree()->itemDelegate());
        QCOMPARE(delegate->displayText(QString::fromStdString(spoof), QLocale()),
                 u"abc<U+202E>fdp.exe"_s);

        p.Tree()->collapseItem(p["Office"]);
        p.Tree()->expandItem(p[""]);
        QVERIFY(p.Saved("<Password>Zm9yZWlnbiBrZXk=") && !p.disk.config.IsDirty());
        CServerList again(p.disk.config, p.frame);
        QVERIFY(again.RootItem()->isExpanded() &&
                !CServerList::FindChildByLabel(again.RootItem(), u"Office"_s)->isExpanded());
    }

    // Adding asks the sheet with the parent's settings but a new name; the
    // new item goes to the end of its level (sorted only at the next start)
    // and shows, its group expanded; the file is saved at once. A copy is
    // proposed under the first free "name (n)". A rename shows at once, keeps
    // the item's place until the next start, and is written to the element
    // found by the old name; a refused one is told and undone; the top's
    // sheet has its own log-on. Two siblings that agree in the part of their
    // paths a buffer holds: the longer one's commands are refused, never run
    // on the other.
    void addingAndEditingSaveAtOnce() {
        const std::string shorter(1020, 'n'), longer = shorter + std::string(480, 'n');
        Panel p(
            "Office[InheritGeneral=0,UserName=jdoe,Description=shared,GroupCollapsed=1]{zeta} "
            "G{" +
            longer + " " + shorter + "}");
        SeenBox box;
        AnswerNextMessageBox(QMessageBox::Yes, &box);  // were it the question
        p.Command(("G/" + longer).c_str(), ID_SERVER_DELETE);
        QVERIFY2(box.text.contains(u"too long"_s), "a path cut short");
        QVERIFY(p["G"]->childCount() == 2 && !p.disk.config.IsDirty());

        p.edit = [](Properties& r) { r.Name = r.Server = "alpha"; };
        p.Command("Office", ID_GROUP_ADD_SERVER);
        QVERIFY(p.requests.back().serverPages && !p.requests.back().rootMode);
        QCOMPARE(p.given.back().UserName, std::string("jdoe"));
        QVERIFY(p.given.back().InheritGeneral == 1 && p.given.back().Name.empty() &&
                p.given.back().Description.empty());
        QCOMPARE(ChildLabels(p["Office"]), u"zeta, alpha"_s);
        QVERIFY(p["Office"]->isExpanded());
        QCOMPARE(p.Tree()->currentItem(), p["Office/alpha"]);
        QVERIFY(p.Saved("alpha") && p.Saved("<GroupCollapsed>1</GroupCollapsed>"));

        p.edit = [](Properties& r) { r.Name = "Sub"; };
        p.Command("Office", ID_GROUP_ADD_GROUP);
        QVERIFY(p.requests.back().groupMode && !p.requests.back().serverPages);
        QVERIFY(p.disk.config.FindNode(NodePath({"Office", "Sub"})));
        p.edit = nullptr;
        p.Command("Office/alpha", ID_SERVER_INSERT_COPY);
        p.Command("Office/alpha", ID_SERVER_INSERT_COPY);  // the names: the rename below
        QCOMPARE(p.given.back().Name + "|" + p.given.back().Server, std::string("alpha (3)|alpha"));

        // Nothing is added when the sheet is cancelled or the file refuses.
        const std::string before = p.disk.Text();
        p.cancel = true;
        p.Command("Office", ID_GROUP_ADD_SERVER);
        p.cancel = false;
        p.edit = [](Properties& r) { r.Name.clear(); };
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        p.Command("Office", ID_GROUP_ADD_GROUP);
        QVERIFY(box.seen);
        QCOMPARE(p["Office"]->childCount(), 5);
        QCOMPARE(p.disk.Text(), before);

        p.edit = [](Properties& r) { r.Name = "z"; };
        p.Command("Office/zeta", ID_SERVER_PROPERTIES);
        QCOMPARE(p.requests.back().siblingNames.join(u", "_s),
                 u"alpha, Sub, alpha (2), alpha (3)"_s);
        QCOMPARE(ChildLabels(p["Office"]), u"z, alpha, Sub, alpha (2), alpha (3)"_s);
        QVERIFY(p.disk.config.FindNode(NodePath({"Office", "z"})) &&
                !p.disk.config.FindNode(NodePath({"Office", "zeta"})));
        AnswerNextMessageBox(QMessageBox::Ok, &box);
        p.edit = [](Properties& r) { r.Name = "alpha"; };
        p.list.OnCommand(ID_SERVER_PROPERTIES);
        QVERIFY(box.text.contains(u"already exists"_s));
        QCOMPARE(p.list.CurrentItem()->text(0), u"z"_s);

        p.edit = [](Properties& r) { r.UserName = "admin"; };
        p.Command("", ID_GROUP_PROPERTIES);
        const SheetRequest& top = p.requests.back();
        QVERIFY(top.rootMode && top.groupMode && top.siblingNames.isEmpty());
        QVERIFY(p.Saved("<UserName>admin</UserName>"));
    }

    // A double click or Enter on a server first looks for its open tab and
    // opens a new one only when there is none; on a group nothing is sent.
    // A group's connect opens its own servers, not its subgroups'. A right
    // click makes the item under the pointer current and opens its menu
    // without moving the selection (the menu keys: the accessibility test).
    // An item goes nowhere it already is, nor below itself, nor where its
    // name is taken. A drop moves the element (saved at once) and the item,
    // sorted into its new level. Ctrl+X and Ctrl+V move the same way; a
    // refused paste keeps the mark.
    void openingMenusAndMoves() {
        Panel p("G{inner[GroupCollapsed=1]{deep} x y} B{a x z}");
        // What is dragged, what is under the pointer, the target ("-": none, or no item).
        const char* rows[][3] = {
            {"G", "G", "-"},     {"G", "G/inner/deep", "-"}, {"G", "", "-"},
            {"G/y", "G/x", "-"}, {"G/y", "B/a", "B/a"},      {"G/y", "G/inner", "G/inner"},
            {"G/x", "B/a", "-"}, {"G/y", "-", "-"},          {"-", "G", "-"}};
        for (const auto& [dragged, under, target] : rows) {
            QVERIFY2(
                p.list.TargetFor(p[dragged], p[under]) == p[target],
                qPrintable(QString::fromUtf8(dragged) + u" over "_s + QString::fromUtf8(under)));
        }
        p.Show();
        QTreeWidget* tree = p.Tree();
        p.frame.findResult = 1;
        const QPoint at = LabelPoint(tree, p["G/x"]);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        p.Key("G", Qt::Key_Enter);
        QCOMPARE(p.frame.Take(), u"find G/x"_s);
        p.Command("G/x", ID_SERVER_CONNECT_CONSOLE);
        p.Command("G", ID_GROUP_CONNECT);
        QCOMPARE(p.frame.Take(),
                 u"open G/x#%1, open G/x, open G/y"_s.arg(ID_SERVER_CONNECT_CONSOLE));
        p.frame.findResult = 0;
        const auto menu = [&] { return p.list.findChild<QMenu*>(u"IDR_SERVER_MENU"_s); };
        tree->setCurrentItem(p["G/x"]);
        const QPoint onY = LabelPoint(tree, p["G/y"]);
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, onY);
        QContextMenuEvent request(QContextMenuEvent::Mouse, onY,
                                  tree->viewport()->mapToGlobal(onY));
        QApplication::sendEvent(tree->viewport(), &request);
        QTRY_VERIFY(menu() != nullptr);
        QCOMPARE(p.list.CurrentItem(), p["G/y"]);
        QCOMPARE(tree->currentItem(), p["G/x"]);  // the selection
        menu()->close();

        QTreeWidgetItem* inner = p["G/inner"];
        const QPoint from = LabelPoint(tree, inner), onZ = LabelPoint(tree, p["B/z"]);
        QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(tree->viewport(), from + QPoint(20, 5));
        QTest::mouseMove(tree->viewport(), onZ);
        QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, onZ);
        QCOMPARE(ChildLabels(p["B"]), u"a, inner, x, z"_s);
        QCOMPARE(tree->currentItem(), inner);
        QVERIFY(!p.disk.config.IsDirty());
        QVERIFY(p.disk.config.FindNode(NodePath({"B", "inner", "deep"})));

        QTreeWidgetItem* y = p["G/y"];
        p.Key("G/y", Qt::Key_X, Qt::ControlModifier);
        QVERIFY(p.list.MarkedItem() == y && y->font(0).italic());
        p.Key("G/x", Qt::Key_V, Qt::ControlModifier);  // a server beside it
        QCOMPARE(y->parent(), p["G"]);
        p.Key("B/a", Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ChildLabels(p["B"]), u"a, inner, x, y, z"_s);
        QVERIFY(p.list.MarkedItem() == nullptr && !y->font(0).italic());
    }

    // While the tree holds no server a hint says how to add one (a screen
    // reader reads it as the tree's description); it never takes the focus.
    // The Delete key (from the keypad, with a modifier too) asks first; the
    // tree follows at once; the top is not deleted. The import asks first,
    // skips what the group holds, sorts the group and saves.
    void theHintTheDeleteKeyAndTheImport() {
        Panel p("G{}");
        p.edit = [](Properties& r) { r.Name = "S"; };
        p.Show();
        p.Tree()->setFocus();
        auto* hint = p.list.findChild<QLabel*>(u"emptyHint"_s);
        QVERIFY(hint->isVisible());
        QCOMPARE(p.Tree()->accessibleDescription(), hint->text());
        p.Command("G", ID_GROUP_ADD_SERVER);
        QVERIFY(!hint->isVisible() && p.Tree()->accessibleDescription().isEmpty());

        SeenBox box;
        AnswerNextMessageBox(QMessageBox::No, &box, 1000);
        // The new server is selected.
        QTest::keyClick(p.Tree(), Qt::Key_Delete, Qt::KeypadModifier | Qt::ShiftModifier);
        QVERIFY2(box.seen && box.defaultButton == QMessageBox::No, "no question, or Yes first");
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        QTest::keyClick(p.Tree(), Qt::Key_Delete);
        QVERIFY(hint->isVisible());
        QCOMPARE(p.list.focusWidget(), p.Tree());

        AnswerNextMessageBox(QMessageBox::Yes, &box, 300);
        p.Key("", Qt::Key_Delete);  // only a beep
        QTest::qWait(400);
        QVERIFY(!box.seen);
        QVERIFY(p.disk.config.Save());
        QVERIFY(p["G"] && !p.Saved("<Name>S</Name>"));

        p.list.SetImportRunner([&](const auto& hasChild, const auto& add) {
            for (const char* name : {"z", "m", "a", "m"}) {
                if (!hasChild(name))
                    add(RecordFrom(std::string("Name=") + name + " Server=" + name));
            }
        });
        AnswerNextMessageBox(QMessageBox::Yes, &box);
        p.Command("G", ID_GROUP_IMPORT_MSTSC);
        QVERIFY(box.seen);
        QCOMPARE(ChildLabels(p["G"]), u"a, m, z"_s);
        QVERIFY(p.Saved("<Name>a</Name>") && !p.disk.config.IsDirty());
    }
};

QTEST_MAIN(CServerListTest)
#include "CServerListTest.moc"

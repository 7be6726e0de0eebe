// The row operations the engine writes through, and what views read back.
#include "hop_row_list.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

class TestHopRowList : public QObject {
    Q_OBJECT
private:
    HopRowList list;
    QString cell(int row, int column) { return list.data(list.index(row, column), Qt::DisplayRole).toString(); }

private slots:
    void init();
    void insertedRowShowsItsTexts();
    void nullLeavesEmptyClears();
    void answeredTimeReplacesGivenText();
    void timeAcrossTickWrapAndBackwards();
    void updateOfMissingRowChangesNothing();
    void updateRefreshesOnlyItsRow();
    void columnsAndAlignment();
    void deletingRows();
};

void TestHopRowList::init()
{
    list.DeleteAllItems();
    for (int i = 0; i < 3; ++i)
        list.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", 0, i);
}

void TestHopRowList::insertedRowShowsItsTexts()
{
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(list.rowCount(), 3);
    QCOMPARE(cell(2, 0), "3");
    QCOMPARE(cell(2, 4), "tracing...");
    QCOMPARE(list.GetItemData(2)->hLookup, -1);
    QVERIFY(!list.GetItemData(2)->answered());
}

void TestHopRowList::nullLeavesEmptyClears()
{
    list.UpdateHopRow(nullptr, "198.18.1.2", nullptr, "r1", nullptr, HOPROW_TIME_UNCHANGED, 0, 0);
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_UNCHANGED, 77, 0);
    QCOMPARE(cell(0, 1), "198.18.1.2");
    QCOMPARE(cell(0, 3), "r1");
    QCOMPARE(cell(0, 4), "tracing...");
    QCOMPARE(list.GetItemData(0)->dwSendTick, 0u);
    list.UpdateHopRow(nullptr, nullptr, nullptr, "", nullptr, HOPROW_TIME_UNCHANGED, 0, 0);
    QCOMPARE(cell(0, 3), "");
    QCOMPARE(cell(0, 1), "198.18.1.2");
}

void TestHopRowList::answeredTimeReplacesGivenText()
{
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_SENT, 1000, 1);
    list.UpdateHopRow(nullptr, "198.18.2.2", "999", nullptr, "next", HOPROW_TIME_ANSWERED, 1042, 1);
    QCOMPARE(cell(1, 2), "42");
    QVERIFY(list.GetItemData(1)->answered());
    // An unknown mode is treated as no time change.
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, 7, 5000, 1);
    QCOMPARE(cell(1, 2), "42");
    QCOMPARE(list.GetItemData(1)->dwSendTick, 1000u);
}

void TestHopRowList::timeAcrossTickWrapAndBackwards()
{
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_SENT, 0xFFFFFFFAu, 0);
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_ANSWERED, 10, 0);
    QCOMPARE(cell(0, 2), "16");
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_SENT, 500, 2);
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_ANSWERED, 490, 2);
    QCOMPARE(cell(2, 2), "-10");
}

void TestHopRowList::updateOfMissingRowChangesNothing()
{
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.UpdateHopRow("x", "x", "x", "x", "x", HOPROW_TIME_ANSWERED, 1, 3);
    list.UpdateHopRow("x", "x", "x", "x", "x", HOPROW_TIME_ANSWERED, 1, -1);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(cell(0, 0), "1");
}

void TestHopRowList::updateRefreshesOnlyItsRow()
{
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, HOPROW_TIME_UNCHANGED, 0, 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), list.index(1, 0));
    QCOMPARE(changed[0][1].toModelIndex(), list.index(1, 4));
}

void TestHopRowList::columnsAndAlignment()
{
    const QStringList titles { "Hop", "IP address", "Time", "Host name", "Result" };
    const int widths[] = { 32, 95, 65, 245, 163 };
    const bool right[] = { false, true, true, true, false };
    QCOMPARE(list.columnCount(), 5);
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(list.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
        QCOMPARE(kHopColumns[c].width, widths[c]);
        const auto align = list.data(list.index(0, c), Qt::TextAlignmentRole).value<Qt::Alignment>();
        QCOMPARE(bool(align & Qt::AlignRight), right[c]);
    }
    QVERIFY(!list.data(list.index(0, 5), Qt::DisplayRole).isValid());
}

void TestHopRowList::deletingRows()
{
    list.DeleteItem(1);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(cell(1, 0), "3");
    list.DeleteItem(5);
    QCOMPARE(list.rowCount(), 2);
    list.DeleteAllItems();
    QCOMPARE(list.rowCount(), 0);
    QCOMPARE(list.GetItemData(0), nullptr);
}

QTEST_GUILESS_MAIN(TestHopRowList)
#include "tst_hop_row_list.moc"

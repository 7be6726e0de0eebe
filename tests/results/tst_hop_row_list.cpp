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
    void rowsInsertedAndDeletedAsViewsExpect();
    void nullLeavesEmptyClears();
    void updateOfMissingRowChangesNothing();
    void updateRefreshesOnlyItsRow();
};

void TestHopRowList::init()
{
    list.DeleteAllItems();
    for (int i = 0; i < 3; ++i)
        list.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", i);
}

void TestHopRowList::rowsInsertedAndDeletedAsViewsExpect()
{
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(list.rowCount(), 3);
    QCOMPARE(cell(2, 0), "3");
    QCOMPARE(cell(2, 4), "tracing...");
    QCOMPARE(list.GetItemData(2)->hLookup, -1);
    QVERIFY(!list.GetItemData(2)->answered());
    list.DeleteItem(1);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(cell(1, 0), "3");
    list.DeleteItem(5);
    QCOMPARE(list.rowCount(), 2);
    list.DeleteAllItems();
    QCOMPARE(list.rowCount(), 0);
    QCOMPARE(list.GetItemData(0), nullptr);
}

void TestHopRowList::nullLeavesEmptyClears()
{
    list.UpdateHopRow(nullptr, "198.18.1.2", nullptr, "r1", nullptr, 0);
    QCOMPARE(cell(0, 1), "198.18.1.2");
    QCOMPARE(cell(0, 3), "r1");
    QCOMPARE(cell(0, 4), "tracing...");
    list.UpdateHopRow(nullptr, nullptr, nullptr, "", nullptr, 0);
    QCOMPARE(cell(0, 3), "");
    QCOMPARE(cell(0, 1), "198.18.1.2");
}

void TestHopRowList::updateOfMissingRowChangesNothing()
{
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.UpdateHopRow("x", "x", "x", "x", "x", 3);
    list.UpdateHopRow("x", "x", "x", "x", "x", -1);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(cell(0, 0), "1");
}

void TestHopRowList::updateRefreshesOnlyItsRow()
{
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.UpdateHopRow(nullptr, nullptr, nullptr, nullptr, nullptr, 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), list.index(1, 0));
    QCOMPARE(changed[0][1].toModelIndex(), list.index(1, 4));
}

QTEST_GUILESS_MAIN(TestHopRowList)
#include "tst_hop_row_list.moc"

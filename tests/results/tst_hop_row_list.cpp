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
    void init()
    {
        list.DeleteAllItems();
        for (int i = 0; i < 3; ++i)
            list.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", i);
    }

    void rowsInsertedAndDeletedAsViewsExpect()
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

    // Null leaves a cell as it is, "" clears it; only the row written is announced, and a row
    // that is not there changes nothing.
    void updateWritesOnlyItsRow()
    {
        QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
        list.UpdateHopRow("x", "x", "x", "x", "x", 3);
        list.UpdateHopRow("x", "x", "x", "x", "x", -1);
        QCOMPARE(changed.count(), 0);
        list.UpdateHopRow(nullptr, "198.18.1.2", nullptr, "r1", nullptr, 1);
        list.UpdateHopRow(nullptr, nullptr, nullptr, "", nullptr, 1);
        QCOMPARE(QStringList({ cell(1, 0), cell(1, 1), cell(1, 3), cell(1, 4) }),
            QStringList({ "2", "198.18.1.2", "", "tracing..." }));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed[0][0].toModelIndex(), list.index(1, 0));
        QCOMPARE(changed[0][1].toModelIndex(), list.index(1, 4));
        QCOMPARE(cell(0, 1), "");
    }
};

QTEST_GUILESS_MAIN(TestHopRowList)
#include "tst_hop_row_list.moc"

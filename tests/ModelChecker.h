#pragma once
// Qt's model tester for the widget tests, with its Qt 6.4 quirk filtered out.

#include <QAbstractItemModel>
#include <QAbstractItemModelTester>
#include <QObject>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>
#include <utility>

namespace qv::test {

// Qt's model tester, minus its reports about itself: the tester of Qt 6.4 fetches rows
// inside its own handlers of change signals, then blames the model for the change it nested
// ("changeInFlight" and the checks that follow). Reports made while such a nested change of
// the tester's is under way are dropped; every other one fails the test. A guard connected
// ahead of the tester still holds the model and the grid to never nesting changes.
class TModelChecker {
public:
    explicit TModelChecker(QAbstractItemModel& Model, bool WithTester = true) {
        Active = this;
        Previous = qInstallMessageHandler(&Handle);
        using M = QAbstractItemModel;
        const auto begin = [this] {
            if (Depth++ > 0)
                TesterNesting = true;
            else
                EXPECT_FALSE(std::exchange(InFlight, true))
                    << "a model change began inside another";
        };
        const auto end = [this] {
            if (Depth++ == 0)
                InFlight = false;
        };
        const auto late = [this] {
            if (--Depth == 0)
                TesterNesting = false;
        };
        Connect(Model, begin, &M::rowsAboutToBeInserted, &M::rowsAboutToBeRemoved,
                &M::layoutAboutToBeChanged, &M::modelAboutToBeReset);
        Connect(Model, end, &M::rowsInserted, &M::rowsRemoved, &M::layoutChanged, &M::modelReset);
        if (WithTester)
            Tester = std::make_unique<QAbstractItemModelTester>(
                &Model, QAbstractItemModelTester::FailureReportingMode::Warning);
        Connect(Model, late, &M::rowsAboutToBeInserted, &M::rowsAboutToBeRemoved,
                &M::layoutAboutToBeChanged, &M::modelAboutToBeReset, &M::rowsInserted,
                &M::rowsRemoved, &M::layoutChanged, &M::modelReset);
    }
    ~TModelChecker() {
        Tester.reset();
        qInstallMessageHandler(Previous);
        Active = nullptr;
    }

private:
    static inline TModelChecker* Active = nullptr;
    static inline QtMessageHandler Previous = nullptr;
    QObject Guard;
    std::unique_ptr<QAbstractItemModelTester> Tester;
    int Depth = 0; // signals being delivered
    bool InFlight = false;
    bool TesterNesting = false;

    template <class TSlot, class... TSignals>
    void Connect(QAbstractItemModel& Model, TSlot Slot, TSignals... Signals) {
        (QObject::connect(&Model, Signals, &Guard, Slot), ...);
    }

    static void Handle(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
        if (Context.category && std::string_view(Context.category) == "qt.modeltest") {
            if (!Active || !Active->TesterNesting)
                ADD_FAILURE() << Text.toStdString();
            return;
        }
        Previous(Type, Context, Text);
    }
};

// Lets the grid's file listings, made on a worker, arrive: events run until none is under
// way. A row that opens gets its files in a later event.
template <class TModel> void WaitForListings(const TModel& Model) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Model.ListingCount() == 0; }, 10000))
        << "a file listing never arrived";
}

} // namespace qv::test

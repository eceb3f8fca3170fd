#ifndef SLICES_MEMORYBUDGET_H
#define SLICES_MEMORYBUDGET_H

#include <QtGlobal>

// The bytes of slice values that all sets of the process may hold together
// (SliceDatas::setMemoryBudget). A reader that makes many slices of one file
// at once takes what it is about to allocate before it does and gives it
// back when done, so that several such files read side by side cannot
// together go far beyond the budget.
bool takeFromBudget(qint64 bytes);
void giveBackToBudget(qint64 bytes);

// Holds bytes of the budget for as long as it lives.
class BudgetHold
{
public:
    BudgetHold() = default;
    ~BudgetHold() { giveBackToBudget(held); }
    // False, nothing taken, when the budget cannot give them.
    bool take(qint64 bytes)
    {
        if (bytes < 0 || !takeFromBudget(bytes))
            return false;
        held += bytes;
        return true;
    }
    Q_DISABLE_COPY_MOVE(BudgetHold)

private:
    qint64 held = 0;
};

#endif // SLICES_MEMORYBUDGET_H

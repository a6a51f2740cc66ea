// The list container: entries in order, the cursor that walks on or restarts,
// the printed index message, copies that own their nodes, and the fatal path
// past the end.
#include "matrix/Matrix"
#include "support.h"

using lp::Liste;
using lp::Matrix;

namespace {

const char bad_index_line[] = "Liste [] :   Falscher Index\n";

}  // namespace

TEST(Liste, EntriesInAppendOrder)
{
    Matrix a(1), b(2), c(3);
    Liste l;
    EXPECT_EQ(l.get_count(), 0);
    l.append(&a);
    EXPECT_EQ(l[0], &a);  // the first append leaves the cursor usable
    l.append(&b);
    l.append(&c);
    EXPECT_EQ(l.get_count(), 3);
    EXPECT_EQ(l[0], &a);
    EXPECT_EQ(l[1], &b);
    EXPECT_EQ(l[2], &c);
    EXPECT_EQ(l[0], &a);
    l[1] = nullptr;
    EXPECT_EQ(l[1], nullptr);
    EXPECT_EQ(l[2], &c);
}

TEST(Liste, CursorWalksOnOrRestartsFromTheHead)
{
    Matrix a(1), b(1), c(1);
    Liste l{&a, &b};
    EXPECT_EQ(l[0], &a);
    EXPECT_EQ(l[1], &b);
    EXPECT_EQ(l.advance(), nullptr);  // the cursor stood on the last node
    EXPECT_EQ(l.advance(), nullptr);  // and stays past the end
    l.append(&c);
    EXPECT_EQ(l[2], &c);  // found from the head, as the cursor ran off
    EXPECT_EQ(l[1], &b);  // behind the cursor: restart from the head
    Liste::Node* next = l.advance();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->element, &c);
    EXPECT_EQ(l.rewind()->element, &a);
}

TEST(Liste, NegativeIndexPrintsAndGivesTheFirstEntry)
{
    Matrix a(1), b(1);
    Liste l{&a, &b};
    EXPECT_EQ(l[1], &b);
    Matrix* got = nullptr;
    EXPECT_EQ(printed_by([&] { got = l[-1]; }), bad_index_line);
    EXPECT_EQ(got, &a);
    EXPECT_EQ(printed_by([&] { got = l[1]; }), "");
    EXPECT_EQ(got, &b);
}

TEST(Liste, CopiesOwnTheirNodesAndNoListOwnsItsMatrices)
{
    auto* owned = new Matrix(2, 2);
    Matrix b(1);
    Liste l{owned, &b};
    {
        Liste copy(l);
        copy[0] = nullptr;
        copy.append(&b);
        Liste assigned{&b};
        assigned = l;
        EXPECT_EQ(assigned.get_count(), 2);
        EXPECT_EQ(assigned[0], owned);
    }  // both copies release their own chains here
    EXPECT_EQ(l.get_count(), 2);
    EXPECT_EQ(l[0], owned);
    l.clear();
    EXPECT_EQ(l.get_count(), 0);
    EXPECT_EQ(l.rewind(), nullptr);
    l.append(owned);
    EXPECT_EQ(l[0], owned);
    (*owned)(1, 1) = 5.0;  // still alive
    delete owned;
}

TEST(ListeDeathTest, IndexPastTheEndOrIntoAnEmptyListEndsTheProcess)
{
    Matrix a(1);
    Liste l{&a, &a};
    EXPECT_EQ(l[1], &a);
    EXPECT_FATAL(l[2], "Liste \\[\\] index 2 of 2 entries");
    Liste empty;
    EXPECT_FATAL(empty[0], "Liste \\[\\] index 0 of 0 entries");
    EXPECT_FATAL(empty[-1], "Liste \\[\\] index -1 of 0 entries");
}

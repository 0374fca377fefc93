// Growth, ownership and out-of-memory outcomes of the vector; pooling,
// key order, the cursor and the red-black shape of the map, read straight
// from its nodes.
#include "base/memory.h"
#include "fault_injection.h"
#include "simple/containers.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// An element that lives on the server's heap, as the real ones do, and
// records when it dies.
struct CTracked
{
    explicit CTracked(int id) : id(id) {}
    ~CTracked() { Destroyed.push_back(id); }
    static void* operator new(size_t size) { return MemAlloc(size); }
    static void operator delete(void* block) { MemFree(block); }

    int id;
    static std::vector<int> Destroyed;
};
std::vector<int> CTracked::Destroyed;

typedef Simple::CVector<CTracked*, Simple::SOwnedPtr, CTracked*> CTrackedVector;
typedef Simple::CMap<int, bool, Simple::SValue, Simple::SValue, int> CIdSet;
typedef CIdSet::CNode CIdNode;

struct NoFailures : ::testing::Test
{
    void SetUp() override { CTracked::Destroyed.clear(); }
    void TearDown() override { MemFailNth(0); }
};

typedef NoFailures Vector;
typedef NoFailures Map;

// True when the armed failure is still pending, i.e. nothing allocated
// since it was armed. Consumes the failure.
bool NextAllocationFails()
{
    void* p = MemAlloc(8);
    if (p)
    {
        MemFree(p);
        return false;
    }
    return true;
}

TEST_F(Vector, CapacityGrowsToSixteenThenDoublesCountPlusOne)
{
    long before = MemLiveBlocks();
    {
        CTrackedVector v;
        EXPECT_EQ(v.Count(), 0);
        EXPECT_EQ(v.Capacity(), 0);
        EXPECT_EQ(v.Data(), nullptr);
        for (int i = 1; i <= 80; i++)
        {
            ASSERT_TRUE(v.Append(new CTracked(i)));
            int expected = i <= 16 ? 16 : i <= 34 ? 34 : i <= 70 ? 70 : 142;
            EXPECT_EQ(v.Capacity(), expected) << "after append " << i;
            EXPECT_EQ(v.Count(), i);
        }
        // One array block, resized in place or moved, plus the elements.
        EXPECT_EQ(MemLiveBlocks(), before + 1 + 80);
        for (int i = 0; i < 80; i++)
            EXPECT_EQ(v.Element(i)->id, i + 1);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
    EXPECT_EQ(CTracked::Destroyed.size(), 80u);
}

TEST_F(Vector, DestroyDeletesNonNullElementsInIndexOrderAndSkipsNulls)
{
    long before = MemLiveBlocks();
    CTrackedVector* v = new CTrackedVector;
    ASSERT_TRUE(v->Append(nullptr));
    ASSERT_TRUE(v->Append(new CTracked(7)));
    ASSERT_TRUE(v->Append(nullptr));
    ASSERT_TRUE(v->Append(new CTracked(3)));
    ASSERT_TRUE(v->Append(new CTracked(9)));
    ASSERT_TRUE(v->Append(nullptr));
    EXPECT_EQ(v->Count(), 6);
    EXPECT_EQ(v->Element(0), nullptr);
    EXPECT_EQ(v->Element(3)->id, 3);
    EXPECT_EQ(MemLiveBlocks(), before + 4);
    EXPECT_TRUE(CTracked::Destroyed.empty());
    delete v; // through the pointer, as an owner holding one would
    EXPECT_EQ(CTracked::Destroyed, (std::vector<int>{7, 3, 9}));
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(Vector, OnlyNullElementsStillFreeTheArray)
{
    long before = MemLiveBlocks();
    {
        CTrackedVector v;
        ASSERT_TRUE(v.Append(nullptr));
        EXPECT_EQ(MemLiveBlocks(), before + 1);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
    EXPECT_TRUE(CTracked::Destroyed.empty());
}

TEST_F(Vector, UntouchedVectorAllocatesAndFreesNothing)
{
    long before = MemLiveBlocks();
    MemFailNth(1);
    {
        CTrackedVector v;
        EXPECT_EQ(v.Count(), 0);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
    EXPECT_TRUE(NextAllocationFails());
}

TEST_F(Vector, PlainValuesNeedNoDeleting)
{
    long before = MemLiveBlocks();
    {
        Simple::CVector<int, Simple::SValue, int> v;
        for (int i = 0; i < 20; i++)
            ASSERT_TRUE(v.Append(i * i));
        EXPECT_EQ(v.Capacity(), 34);
        EXPECT_EQ(v.Element(19), 361);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

// Fails the Nth allocation for N = 1, 2, ... until the append goes through;
// every failure must leave the vector exactly as it was.
void AppendUnderFailures(CTrackedVector& v, int id, int* failures)
{
    int count = 0, capacity = 0;
    CTracked* const* array = nullptr;
    std::vector<CTracked*> contents;
    CTracked* element = nullptr;
    bool ok = false;
    *failures = FailEachAllocationInTurn(
        [&] {
            count = v.Count();
            capacity = v.Capacity();
            array = v.Data();
            contents.assign(array, array + count);
            element = new CTracked(id);
        },
        [&] { ok = v.Append(element); },
        [&](const FailureRun& run) {
            if (ok)
            {
                EXPECT_FALSE(run.refused);
                EXPECT_EQ(v.Count(), count + 1);
                EXPECT_EQ(v.Element(count), element);
                return;
            }
            EXPECT_TRUE(run.refused) << "append failed with memory to spare";
            EXPECT_EQ(v.Count(), count);
            EXPECT_EQ(v.Capacity(), capacity);
            EXPECT_EQ(v.Data(), array);
            for (int i = 0; i < count; i++)
                EXPECT_EQ(v.Element(i), contents[i]);
            EXPECT_EQ(MemLiveBlocks(), run.liveBefore); // just the element we still own
            delete element;
        });
}

TEST_F(Vector, FailedGrowthLeavesCountCapacityAndArrayAlone)
{
    long before = MemLiveBlocks();
    {
        CTrackedVector v;
        int failures = 0;
        for (int id = 1; id <= 40; id++)
        {
            AppendUnderFailures(v, id, &failures);
            bool grows = id == 1 || id == 17 || id == 35;
            EXPECT_EQ(failures, grows ? 1 : 0) << "append " << id;
        }
        EXPECT_EQ(v.Count(), 40);
        EXPECT_EQ(v.Capacity(), 70);
        for (int i = 0; i < 40; i++)
            EXPECT_EQ(v.Element(i)->id, i + 1);
        // The elements refused along the way were deleted by their owner.
        EXPECT_EQ(CTracked::Destroyed, (std::vector<int>{1, 17, 35}));
        CTracked::Destroyed.clear();
    }
    EXPECT_EQ(CTracked::Destroyed.size(), 40u);
    EXPECT_EQ(MemLiveBlocks(), before);
}

// ---- map ------------------------------------------------------------------

std::vector<int> ChainForward(const CIdSet& m)
{
    std::vector<int> keys;
    for (const CIdNode* n = m.First(); n && keys.size() <= (size_t)m.Count(); n = n->next)
        keys.push_back(n->key);
    return keys;
}

// Every structural rule of the tree, the chain and the pool; empty when all
// hold, else the first broken rule.
struct CChecker
{
    const CIdSet& map;
    const CIdNode* nil;
    std::vector<const CIdNode*> inorder;
    std::string error;

    explicit CChecker(const CIdSet& m) : map(m), nil(m.Sentinel()) {}

    void Fail(const std::string& what, const CIdNode* n = nullptr)
    {
        if (!error.empty())
            return;
        std::ostringstream s;
        s << what;
        if (n)
            s << " at key " << n->key;
        error = s.str();
    }

    // Returns the black height of the subtree, or -1 after a failure.
    int Walk(const CIdNode* n, int depth)
    {
        if (n == nil)
            return 1;
        if (depth > 200)
        {
            Fail("tree too deep or cyclic", n);
            return -1;
        }
        if (!n->left || !n->right)
        {
            Fail("null child link instead of the sentinel", n);
            return -1;
        }
        if (n->left != nil && n->left->parent != n)
            Fail("left child's parent link", n);
        if (n->right != nil && n->right->parent != n)
            Fail("right child's parent link", n);
        if (n->red && (n->left->red || n->right->red))
            Fail("red node with a red child", n);
        int lh = Walk(n->left, depth + 1);
        inorder.push_back(n);
        int rh = Walk(n->right, depth + 1);
        if (lh < 0 || rh < 0)
            return -1;
        if (lh != rh)
        {
            Fail("unequal black heights", n);
            return -1;
        }
        return lh + (n->red ? 0 : 1);
    }

    std::string Run()
    {
        if (nil->left != nil || nil->right != nil || nil->red || nil->parent ||
            nil->prev || nil->next)
            Fail("sentinel was written");
        const CIdNode* root = map.Root();
        if (map.Count() == 0)
        {
            if (root != nil || map.First() || map.Last())
                Fail("empty map with nodes");
        }
        else
        {
            if (root == nil || root->parent)
                Fail("root missing or has a parent");
            else if (root->red)
                Fail("red root");
        }
        Walk(root, 0);
        if (!error.empty())
            return error;
        if ((int)inorder.size() != map.Count())
            Fail("element count differs from the tree");
        if (map.NodesInUse() != map.Count())
            Fail("nodes in use differ from the element count");
        if (map.NodesInUse() + map.FreeNodes() != map.BlockCount() * map.BlockSize())
            Fail("pool does not add up");
        for (size_t i = 1; i < inorder.size(); i++)
            if (!(inorder[i - 1]->key < inorder[i]->key))
                Fail("keys out of order", inorder[i]);
        if (!inorder.empty())
        {
            if (map.First() != inorder.front() || map.Last() != inorder.back())
                Fail("first or last is not the end of the key order");
            if (map.First()->prev || map.Last()->next)
                Fail("chain runs past its ends");
        }
        for (size_t i = 0; i < inorder.size(); i++)
        {
            const CIdNode* want_next = i + 1 < inorder.size() ? inorder[i + 1] : nullptr;
            const CIdNode* want_prev = i > 0 ? inorder[i - 1] : nullptr;
            if (inorder[i]->next != want_next)
                Fail("next link", inorder[i]);
            if (inorder[i]->prev != want_prev)
                Fail("prev link", inorder[i]);
        }
        int ci = map.CursorIndex();
        if ((ci < 0) != (map.CursorNode() == nullptr))
            Fail("cursor half set");
        else if (ci >= 0 && (ci >= (int)inorder.size() || inorder[ci] != map.CursorNode()))
            Fail("cursor index no longer names the cursor node");
        return error;
    }
};

std::string Check(const CIdSet& m) { return CChecker(m).Run(); }

// Shape of the tree by keys, to see that a refused insert changed nothing.
std::string Snapshot(const CIdSet& m)
{
    std::ostringstream s;
    const CIdNode* nil = m.Sentinel();
    auto key = [&](const CIdNode* n) -> std::string {
        return !n ? "none" : n == nil ? "nil" : std::to_string(n->key);
    };
    s << "root " << key(m.Root()) << " first " << key(m.First()) << " last " << key(m.Last())
      << " count " << m.Count() << " inuse " << m.NodesInUse() << " free " << m.FreeNodes()
      << " blocks " << m.BlockCount() << " cursor " << m.CursorIndex() << "/"
      << key(m.CursorNode()) << "\n";
    for (const CIdNode* n = m.First(); n; n = n->next)
        s << n->key << "=" << n->value << (n->red ? " R" : " B") << " p " << key(n->parent)
          << " l " << key(n->left) << " r " << key(n->right) << " prev " << key(n->prev)
          << "\n";
    return s.str();
}

TEST_F(Map, ConstructedEmptyWithoutAllocating)
{
    long before = MemLiveBlocks();
    MemFailNth(1);
    {
        CIdSet m;
        EXPECT_EQ(m.Count(), 0);
        EXPECT_EQ(m.Root(), m.Sentinel());
        EXPECT_EQ(m.First(), nullptr);
        EXPECT_EQ(m.Last(), nullptr);
        EXPECT_EQ(m.NodesInUse(), 0);
        EXPECT_EQ(m.BlockCount(), 0);
        EXPECT_EQ(m.FreeNodes(), 0);
        EXPECT_EQ(m.BlockSize(), 4);
        EXPECT_EQ(m.CursorIndex(), -1);
        EXPECT_EQ(m.CursorNode(), nullptr);
        EXPECT_FALSE(m.Lookup(0));
        EXPECT_EQ(m.NodeAt(0), nullptr);
        EXPECT_EQ(Check(m), "");
    }
    EXPECT_TRUE(NextAllocationFails());
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(Map, RepeatedKeyReplacesValueAndKeepsCount)
{
    CIdSet m;
    ASSERT_TRUE(m.Insert(42, false));
    ASSERT_TRUE(m.Insert(43, false));
    std::string shape = Snapshot(m);
    long live = MemLiveBlocks();
    ASSERT_TRUE(m.Insert(42, true));
    EXPECT_EQ(m.Count(), 2);
    EXPECT_EQ(m.NodesInUse(), 2);
    EXPECT_EQ(MemLiveBlocks(), live);
    ASSERT_NE(m.Find(42), nullptr);
    EXPECT_TRUE(m.Find(42)->value);
    EXPECT_FALSE(m.Find(43)->value);
    // Only the value changed.
    std::string after = Snapshot(m);
    EXPECT_NE(after, shape);
    ASSERT_TRUE(m.Insert(42, false));
    EXPECT_EQ(Snapshot(m), shape);
    EXPECT_EQ(Check(m), "");
}

TEST_F(Map, NodesComeFourToABlock)
{
    long before = MemLiveBlocks();
    {
        CIdSet m;
        for (int k = 1; k <= 4; k++)
            ASSERT_TRUE(m.Insert(k * 10, true));
        EXPECT_EQ(m.BlockCount(), 1);
        EXPECT_EQ(MemLiveBlocks(), before + 1);
        EXPECT_EQ(m.FreeNodes(), 0);
        ASSERT_TRUE(m.Insert(20, false)); // repeat: no new node
        EXPECT_EQ(m.BlockCount(), 1);
        ASSERT_TRUE(m.Insert(50, true));
        EXPECT_EQ(m.BlockCount(), 2);
        EXPECT_EQ(MemLiveBlocks(), before + 2);
        EXPECT_EQ(m.NodesInUse(), 5);
        EXPECT_EQ(m.FreeNodes(), 3);
        for (int k = 6; k <= 8; k++)
            ASSERT_TRUE(m.Insert(k * 10, true));
        EXPECT_EQ(m.BlockCount(), 2);
        ASSERT_TRUE(m.Insert(90, true));
        EXPECT_EQ(m.BlockCount(), 3);
        EXPECT_EQ(MemLiveBlocks(), before + 3);
        EXPECT_EQ(Check(m), "");
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(Map, KeysCompareSigned)
{
    CIdSet m;
    const int kMin = (int)0x80000000u, kMax = 0x7FFFFFFF;
    ASSERT_TRUE(m.Insert(kMax, true));
    ASSERT_TRUE(m.Insert(0, true));
    ASSERT_TRUE(m.Insert(kMin, true));
    ASSERT_TRUE(m.Insert(-1, true));
    ASSERT_TRUE(m.Insert(1, true));
    EXPECT_EQ(ChainForward(m), (std::vector<int>{kMin, -1, 0, 1, kMax}));
    EXPECT_EQ(m.First()->key, kMin);
    EXPECT_EQ(m.Last()->key, kMax);
    for (int k : {kMin, -1, 0, 1, kMax})
        EXPECT_TRUE(m.Lookup(k)) << k;
    EXPECT_FALSE(m.Lookup(-2));
    EXPECT_FALSE(m.Lookup(kMin + 1));
    EXPECT_FALSE(m.Lookup(kMax - 1));
    EXPECT_EQ(Check(m), "");
}

TEST_F(Map, ThreeKeysChainInKeyOrder)
{
    CIdSet m;
    ASSERT_TRUE(m.Insert(5, true));
    ASSERT_TRUE(m.Insert(7, false));
    ASSERT_TRUE(m.Insert(3, true));
    const CIdNode *first = m.First(), *last = m.Last(), *root = m.Root();
    EXPECT_EQ(first->key, 3);
    EXPECT_EQ(last->key, 7);
    EXPECT_EQ(first->prev, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->key, 5);
    EXPECT_EQ(first->next->next, last);
    EXPECT_EQ(last->prev->key, 5);
    EXPECT_EQ(last->next, nullptr);
    // No rotation is needed: 5 stays the black root with two red children.
    EXPECT_EQ(root->key, 5);
    EXPECT_FALSE(root->red);
    EXPECT_EQ(root->left, first);
    EXPECT_EQ(root->right, last);
    EXPECT_TRUE(first->red);
    EXPECT_TRUE(last->red);
    EXPECT_FALSE(m.Find(7)->value);
    EXPECT_EQ(Check(m), "");
}

TEST_F(Map, RotationsOnAscendingRunKeepRootBlack)
{
    CIdSet m;
    ASSERT_TRUE(m.Insert(1, true));
    ASSERT_TRUE(m.Insert(2, true));
    ASSERT_TRUE(m.Insert(3, true)); // outer case: one left rotation
    EXPECT_EQ(m.Root()->key, 2);
    EXPECT_EQ(m.Root()->parent, nullptr);
    EXPECT_EQ(m.Root()->left->key, 1);
    EXPECT_EQ(m.Root()->right->key, 3);
    ASSERT_TRUE(m.Insert(4, true)); // red uncle: recolour only
    EXPECT_FALSE(m.Root()->left->red);
    EXPECT_FALSE(m.Root()->right->red);
    EXPECT_TRUE(m.Find(4)->red);
    EXPECT_EQ(Check(m), "");

    CIdSet inner;
    ASSERT_TRUE(inner.Insert(10, true));
    ASSERT_TRUE(inner.Insert(5, true));
    ASSERT_TRUE(inner.Insert(7, true)); // inner case: two rotations
    EXPECT_EQ(inner.Root()->key, 7);
    EXPECT_EQ(inner.Root()->left->key, 5);
    EXPECT_EQ(inner.Root()->right->key, 10);
    EXPECT_EQ(Check(inner), "");
}

TEST_F(Map, CursorKeepsNamingItsIndexAcrossInserts)
{
    CIdSet m;
    for (int k : {10, 20, 30, 40})
        ASSERT_TRUE(m.Insert(k, true));
    const CIdNode* at2 = m.NodeAt(2);
    ASSERT_NE(at2, nullptr);
    EXPECT_EQ(at2->key, 30);
    EXPECT_EQ(m.CursorIndex(), 2);
    EXPECT_EQ(m.CursorNode(), at2);

    ASSERT_TRUE(m.Insert(35, true)); // after the cursor: it stays
    EXPECT_EQ(m.CursorNode()->key, 30);
    ASSERT_TRUE(m.Insert(25, true)); // before it: step back onto the new node
    EXPECT_EQ(m.CursorIndex(), 2);
    EXPECT_EQ(m.CursorNode()->key, 25);
    ASSERT_TRUE(m.Insert(5, true)); // before it: step back onto 20
    EXPECT_EQ(m.CursorNode()->key, 20);
    ASSERT_TRUE(m.Insert(10, false)); // a repeated key moves nothing
    EXPECT_EQ(m.CursorNode()->key, 20);
    EXPECT_EQ(m.CursorIndex(), 2);
    ASSERT_TRUE(m.Insert(20, false)); // nor does the cursor's own key
    EXPECT_EQ(m.CursorNode()->key, 20);
    EXPECT_EQ(Check(m), "");
    EXPECT_EQ(ChainForward(m), (std::vector<int>{5, 10, 20, 25, 30, 35, 40}));

    // Out of range leaves the cursor where it was.
    EXPECT_EQ(m.NodeAt(7), nullptr);
    EXPECT_EQ(m.NodeAt(-1), nullptr);
    EXPECT_EQ(m.CursorIndex(), 2);

    // Walks from the cursor and from either end land on the right node.
    for (int i : {3, 6, 0, 5, 1, 4, 2, 6})
    {
        const CIdNode* n = m.NodeAt(i);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->key, ChainForward(m)[i]) << i;
        EXPECT_EQ(m.CursorIndex(), i);
    }

    // At index 0 the step back lands on the new first node.
    ASSERT_EQ(m.NodeAt(0)->key, 5);
    ASSERT_TRUE(m.Insert(-5, true));
    EXPECT_EQ(m.CursorIndex(), 0);
    EXPECT_EQ(m.CursorNode(), m.First());
    EXPECT_EQ(Check(m), "");
}

// Fails the Nth allocation for N = 1, 2, ... until the insert goes through;
// every failure must leave the map, the pool and the heap as they were.
int InsertUnderFailures(CIdSet& m, int key, bool value)
{
    std::string shape;
    bool ok = false;
    return FailEachAllocationInTurn(
        [&] { shape = Snapshot(m); },
        [&] { ok = m.Insert(key, value); },
        [&](const FailureRun& run) {
            EXPECT_EQ(Check(m), "") << "key " << key << " failing allocation " << run.n;
            if (ok)
            {
                EXPECT_FALSE(run.refused);
                EXPECT_TRUE(m.Lookup(key));
                return;
            }
            EXPECT_TRUE(run.refused) << "insert failed with memory to spare";
            EXPECT_EQ(Snapshot(m), shape) << "key " << key;
            EXPECT_EQ(MemLiveBlocks(), run.liveBefore);
            EXPECT_FALSE(m.Lookup(key));
        });
}

TEST_F(Map, FailedBlockAllocationLeavesTreeUntouched)
{
    long before = MemLiveBlocks();
    {
        CIdSet m;
        std::mt19937 rng(7);
        std::map<int, bool> model;
        for (int i = 0; i < 60; i++)
        {
            int key = (int)(rng() % 40) - 20;
            bool value = rng() & 1;
            if (i % 9 == 4 && m.Count() > 0)
                m.NodeAt((int)(rng() % m.Count()));
            int blocks = m.BlockCount();
            bool fresh = !model.count(key);
            bool needsBlock = fresh && m.FreeNodes() == 0;
            int failures = InsertUnderFailures(m, key, value);
            model[key] = value;
            EXPECT_EQ(failures, needsBlock ? 1 : 0) << "key " << key;
            EXPECT_EQ(m.BlockCount(), blocks + (needsBlock ? 1 : 0));
        }
        EXPECT_EQ(m.Count(), (int)model.size());
        for (auto& kv : model)
            EXPECT_EQ(m.Find(kv.first)->value, kv.second);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

TEST_F(Map, DestroyReturnsEveryBlock)
{
    long before = MemLiveBlocks();
    CIdSet* m = new CIdSet;
    for (int k = 0; k < 1000; k++)
        ASSERT_TRUE(m->Insert(k * 7919 % 1009, true));
    EXPECT_EQ(m->BlockCount(), 250);
    EXPECT_EQ(MemLiveBlocks(), before + 250);
    delete m; // through the pointer
    EXPECT_EQ(MemLiveBlocks(), before);

    // A lone node is the last in use: the pool goes with it.
    {
        CIdSet one;
        ASSERT_TRUE(one.Insert(1, true));
        EXPECT_EQ(MemLiveBlocks(), before + 1);
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

enum EOrder
{
    Random,
    Ascending,
    Descending,
    ZigZag
};

struct CRandomCase
{
    EOrder order;
    int blockSize;
    int inserts;
};

void PrintTo(const CRandomCase& c, std::ostream* out)
{
    *out << "order " << c.order << ", block size " << c.blockSize << ", " << c.inserts << " inserts";
}

class MapRandomized : public ::testing::TestWithParam<CRandomCase>
{
protected:
    void TearDown() override { MemFailNth(0); }
};

int KeyFor(EOrder order, int i, std::mt19937& rng)
{
    switch (order)
    {
    case Ascending:
        return i - 1500;
    case Descending:
        return 1500 - i;
    case ZigZag:
        return i % 2 ? i : -i;
    default:
        break;
    }
    // Mostly a narrow band, so repeats are common, with the extremes mixed in.
    switch (rng() % 16)
    {
    case 0:
        return (int)0x80000000u + (int)(rng() % 8);
    case 1:
        return 0x7FFFFFFF - (int)(rng() % 8);
    case 2:
        return (int)rng();
    default:
        return (int)(rng() % 3000) - 1500;
    }
}

TEST_P(MapRandomized, EveryInsertKeepsTreeChainAndPoolSound)
{
    const CRandomCase& c = GetParam();
    long before = MemLiveBlocks();
    {
        CIdSet m(c.blockSize);
        std::map<int, bool> model;
        std::mt19937 rng(20240611u + c.order * 31 + c.blockSize);
        for (int i = 0; i < c.inserts; i++)
        {
            int key = KeyFor(c.order, i, rng);
            bool value = rng() & 1;
            ASSERT_TRUE(m.Insert(key, value));
            model[key] = value;
            if (i % 7 == 0)
            {
                ASSERT_NE(m.NodeAt((int)(rng() % m.Count())), nullptr);
            }

            std::string broken = Check(m);
            ASSERT_EQ(broken, "") << "after inserting " << key << " (step " << i << ")";
            ASSERT_EQ(m.Count(), (int)model.size());
            ASSERT_TRUE(m.Lookup(key));
            ASSERT_EQ(m.Find(key)->value, value);
            int absent = KeyFor(Random, i, rng);
            ASSERT_EQ(m.Lookup(absent), model.count(absent) == 1) << absent;
            ASSERT_EQ(m.BlockCount(), (m.Count() + c.blockSize - 1) / c.blockSize);
        }
        std::vector<int> want;
        for (auto& kv : model)
            want.push_back(kv.first);
        ASSERT_EQ(ChainForward(m), want);
        std::vector<int> backward;
        for (const CIdNode* n = m.Last(); n; n = n->prev)
            backward.push_back(n->key);
        std::reverse(backward.begin(), backward.end());
        ASSERT_EQ(backward, want);
        for (auto& kv : model)
            ASSERT_EQ(m.Find(kv.first)->value, kv.second);
        EXPECT_EQ(MemLiveBlocks(), before + m.BlockCount());
    }
    EXPECT_EQ(MemLiveBlocks(), before);
}

std::string CaseName(const ::testing::TestParamInfo<CRandomCase>& info)
{
    static const char* const names[] = {"Random", "Ascending", "Descending", "ZigZag"};
    return std::string(names[info.param.order]) + "Block" + std::to_string(info.param.blockSize);
}

INSTANTIATE_TEST_SUITE_P(Orders, MapRandomized,
                         ::testing::Values(CRandomCase{Random, 4, 4000},
                                           CRandomCase{Random, 1, 1500},
                                           CRandomCase{Random, 7, 1500},
                                           CRandomCase{Ascending, 4, 2000},
                                           CRandomCase{Descending, 4, 2000},
                                           CRandomCase{ZigZag, 4, 2000}),
                         CaseName);

} // namespace

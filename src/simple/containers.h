// The server's own small container templates: a growable array that owns
// its pointer elements, and an ordered map kept as a red-black tree whose
// nodes come from pooled blocks. All memory goes through MemAlloc and
// friends, so tests can fail any allocation and count what is left over.
// Out of memory is reported by results; nothing throws. Not thread-safe.
#pragma once
#include "base/memory.h"
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <new>

namespace Simple
{

// Element policy: the container deletes its (pointer) elements.
struct SOwnedPtr
{
    template <typename T>
    static void Destroy(T& element)
    {
        if (element)
            delete element;
        element = nullptr;
    }
};

// Element policy: keys and values are plain copies; keys compare with <.
struct SValue
{
    template <typename T>
    static void Destroy(T&)
    {
    }
    template <typename A, typename B>
    static int Compare(const A& a, const B& b)
    {
        return a < b ? -1 : (b < a ? 1 : 0);
    }
};

template <typename T, typename Policy, typename Arg>
class CVector
{
public:
    CVector() : m_count(0), m_capacity(0), m_array(nullptr) {}
    CVector(const CVector&) = delete;
    CVector& operator=(const CVector&) = delete;

    virtual ~CVector()
    {
        for (int i = 0; i < m_count; i++)
            Policy::Destroy(m_array[i]);
        if (m_array)
            MemFree(m_array);
    }

    // On false the array could not grow: nothing was stored and the caller
    // still owns the element.
    bool Append(Arg element)
    {
        if (m_count + 1 > m_capacity && !Grow())
            return false;
        m_array[m_count++] = element;
        return true;
    }

    int Count() const { return m_count; }
    int Capacity() const { return m_capacity; }
    T Element(int i) const { return m_array[i]; }
    const T* Data() const { return m_array; }

private:
    bool Grow()
    {
        long long wanted = 2LL * (m_count + 1LL);
        if (wanted < 16)
            wanted = 16;
        if (wanted > INT_MAX || (unsigned long long)wanted > SIZE_MAX / sizeof(T))
            return false;
        // A failed reallocation leaves the old array as it was.
        T* grown = (T*)MemRealloc(m_array, (size_t)wanted * sizeof(T));
        if (!grown)
            return false;
        m_array = grown;
        m_capacity = (int)wanted;
        return true;
    }

    int m_count;
    int m_capacity;
    T* m_array;
};

template <typename K, typename V, typename KeyPolicy, typename ValuePolicy, typename Arg>
class CMap
{
public:
    struct CNode
    {
        K key;
        V value;
        CNode* parent;
        CNode* left;
        CNode* right;
        CNode* prev; // key-order chain
        CNode* next;
        bool red;
    };

    CMap() { Init(4); }
    explicit CMap(int blockSize) { Init(blockSize < 1 ? 1 : blockSize); }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    virtual ~CMap()
    {
        if (m_root != &m_sentinel)
            ReturnSubtree(m_root);
        m_root = &m_sentinel;
        m_first = m_last = nullptr;
        m_cursorIndex = -1;
        m_cursorNode = nullptr;
        m_count = 0;
        FreeBlocks();
    }

    bool Lookup(Arg key) const { return Find(key) != nullptr; }

    const CNode* Find(Arg key) const
    {
        CNode* node = m_root;
        while (node != &m_sentinel)
        {
            int order = KeyPolicy::Compare(node->key, key);
            if (order == 0)
                return node;
            node = order < 0 ? node->right : node->left;
        }
        return nullptr;
    }

    // Adds the key, or replaces the value of a key already present. On false
    // a node block could not be allocated and the map is unchanged.
    bool Insert(Arg key, V value)
    {
        CNode* parent = nullptr;
        int order = 0;
        for (CNode* node = m_root; node != &m_sentinel;)
        {
            parent = node;
            order = KeyPolicy::Compare(key, node->key);
            if (order == 0)
            {
                ValuePolicy::Destroy(node->value);
                node->value = value;
                return true;
            }
            node = order < 0 ? node->left : node->right;
        }

        CNode* node = TakeNode();
        if (!node)
            return false;
        node->key = key;
        node->value = value;
        node->red = true;
        node->left = node->right = &m_sentinel;
        node->parent = parent;
        node->prev = node->next = nullptr;

        if (!parent)
        {
            m_root = node;
            m_first = m_last = node;
        }
        else if (order < 0)
        {
            parent->left = node;
            node->prev = parent->prev;
            node->next = parent;
            if (parent->prev)
                parent->prev->next = node;
            else
                m_first = node;
            parent->prev = node;
        }
        else
        {
            parent->right = node;
            node->next = parent->next;
            node->prev = parent;
            if (parent->next)
                parent->next->prev = node;
            else
                m_last = node;
            parent->next = node;
        }

        // Everything from the cursor on moved one place up; keep the cached
        // index naming the same position.
        if (m_cursorNode && KeyPolicy::Compare(key, m_cursorNode->key) < 0)
            m_cursorNode = m_cursorNode->prev;

        Rebalance(node);
        m_root->red = false;
        m_count++;
        return true;
    }

    // The node at position index in key order, or null when out of range.
    // Walks from whichever of first, last and the cursor is nearest, and
    // leaves the cursor there.
    const CNode* NodeAt(int index)
    {
        if (index < 0 || index >= m_count)
            return nullptr;
        CNode* node = m_first;
        int at = 0;
        if (m_count - 1 - index < index)
        {
            node = m_last;
            at = m_count - 1;
        }
        if (m_cursorNode)
        {
            int fromCursor = m_cursorIndex > index ? m_cursorIndex - index : index - m_cursorIndex;
            int fromEnd = at > index ? at - index : index - at;
            if (fromCursor < fromEnd)
            {
                node = m_cursorNode;
                at = m_cursorIndex;
            }
        }
        for (; at < index; at++)
            node = node->next;
        for (; at > index; at--)
            node = node->prev;
        m_cursorIndex = index;
        m_cursorNode = node;
        return node;
    }

    int Count() const { return m_count; }

    // Read-only views of the tree and the pool.
    const CNode* Root() const { return m_root; }
    const CNode* Sentinel() const { return &m_sentinel; }
    const CNode* First() const { return m_first; }
    const CNode* Last() const { return m_last; }
    int CursorIndex() const { return m_cursorIndex; }
    const CNode* CursorNode() const { return m_cursorNode; }
    int NodesInUse() const { return m_nodesInUse; }
    int BlockSize() const { return m_blockSize; }
    int BlockCount() const
    {
        int n = 0;
        for (const CBlock* b = m_blocks; b; b = b->link)
            n++;
        return n;
    }
    int FreeNodes() const
    {
        int n = 0;
        for (const CFreeSlot* s = m_free; s; s = s->link)
            n++;
        return n;
    }

private:
    struct CBlock
    {
        CBlock* link; // the block allocated before this one
    };
    // A node not in use holds the free-list link in its first word.
    struct CFreeSlot
    {
        CFreeSlot* link;
    };
    static_assert(sizeof(CFreeSlot) <= sizeof(CNode), "a free node holds its link");

    static size_t NodesOffset()
    {
        return (sizeof(CBlock) + alignof(CNode) - 1) / alignof(CNode) * alignof(CNode);
    }

    void Init(int blockSize)
    {
        m_blocks = nullptr;
        m_free = nullptr;
        m_nodesInUse = 0;
        m_blockSize = blockSize;
        m_sentinel.key = K();
        m_sentinel.value = V();
        m_sentinel.parent = nullptr;
        m_sentinel.left = m_sentinel.right = &m_sentinel;
        m_sentinel.prev = m_sentinel.next = nullptr;
        m_sentinel.red = false;
        m_root = &m_sentinel;
        m_first = m_last = nullptr;
        m_cursorIndex = -1;
        m_cursorNode = nullptr;
        m_count = 0;
    }

    CNode* TakeNode()
    {
        if (!m_free)
        {
            if ((size_t)m_blockSize > (SIZE_MAX - NodesOffset()) / sizeof(CNode))
                return nullptr;
            char* raw = (char*)MemAlloc(NodesOffset() + (size_t)m_blockSize * sizeof(CNode));
            if (!raw)
                return nullptr;
            CBlock* block = new (raw) CBlock;
            block->link = m_blocks;
            m_blocks = block;
            // Pushed last to first, so nodes are handed out in address order.
            char* nodes = raw + NodesOffset();
            for (int i = m_blockSize - 1; i >= 0; i--)
            {
                CFreeSlot* slot = new (nodes + (size_t)i * sizeof(CNode)) CFreeSlot;
                slot->link = m_free;
                m_free = slot;
            }
        }
        CFreeSlot* slot = m_free;
        m_free = slot->link;
        m_nodesInUse++;
        return new ((void*)slot) CNode();
    }

    void ReturnNode(CNode* node)
    {
        KeyPolicy::Destroy(node->key);
        ValuePolicy::Destroy(node->value);
        node->~CNode();
        if (m_nodesInUse > 1)
        {
            CFreeSlot* slot = new ((void*)node) CFreeSlot;
            slot->link = m_free;
            m_free = slot;
            m_nodesInUse--;
            return;
        }
        // The last node in use: the whole pool goes at once.
        FreeBlocks();
    }

    void ReturnSubtree(CNode* node)
    {
        if (node->left != &m_sentinel)
            ReturnSubtree(node->left);
        if (node->right != &m_sentinel)
            ReturnSubtree(node->right);
        ReturnNode(node);
    }

    void FreeBlocks()
    {
        while (m_blocks)
        {
            CBlock* block = m_blocks;
            m_blocks = block->link;
            MemFree(block);
        }
        m_free = nullptr;
        m_nodesInUse = 0;
    }

    void RotateLeft(CNode* x)
    {
        CNode* y = x->right;
        x->right = y->left;
        if (y->left != &m_sentinel)
            y->left->parent = x;
        y->parent = x->parent;
        if (!x->parent)
            m_root = y;
        else if (x == x->parent->left)
            x->parent->left = y;
        else
            x->parent->right = y;
        y->left = x;
        x->parent = y;
    }

    void RotateRight(CNode* x)
    {
        CNode* y = x->left;
        x->left = y->right;
        if (y->right != &m_sentinel)
            y->right->parent = x;
        y->parent = x->parent;
        if (!x->parent)
            m_root = y;
        else if (x == x->parent->right)
            x->parent->right = y;
        else
            x->parent->left = y;
        y->right = x;
        x->parent = y;
    }

    void Rebalance(CNode* node)
    {
        // A red parent is never the root, so the grandparent exists.
        while (node != m_root && node->parent->red)
        {
            CNode* parent = node->parent;
            CNode* grand = parent->parent;
            if (parent == grand->left)
            {
                CNode* uncle = grand->right;
                if (uncle->red)
                {
                    parent->red = false;
                    uncle->red = false;
                    grand->red = true;
                    node = grand;
                    continue;
                }
                if (node == parent->right)
                {
                    node = parent;
                    RotateLeft(node);
                    parent = node->parent;
                }
                parent->red = false;
                grand->red = true;
                RotateRight(grand);
            }
            else
            {
                CNode* uncle = grand->left;
                if (uncle->red)
                {
                    parent->red = false;
                    uncle->red = false;
                    grand->red = true;
                    node = grand;
                    continue;
                }
                if (node == parent->left)
                {
                    node = parent;
                    RotateRight(node);
                    parent = node->parent;
                }
                parent->red = false;
                grand->red = true;
                RotateLeft(grand);
            }
        }
    }

    CBlock* m_blocks;    // newest first
    CFreeSlot* m_free;
    int m_nodesInUse;
    int m_blockSize;
    CNode* m_root;       // the sentinel while empty
    CNode* m_first;
    CNode* m_last;
    CNode m_sentinel;    // every missing child; never written after Init
    int m_cursorIndex;   // -1 when unset
    CNode* m_cursorNode;
    int m_count;
};

} // namespace Simple

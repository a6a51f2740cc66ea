// The list container of the matrix library.
#include <cstdio>
#include <new>

#include "matrix/Matrix"

namespace lp {

namespace {

const char bad_index[] = "Liste [] :   Falscher Index";

}  // namespace

Liste::Liste(std::initializer_list<Matrix*> entries)
{
    for (Matrix* entry : entries) append(entry);
}

Liste::Liste(const Liste& other)
{
    for (const Node* node = other.head; node != nullptr; node = node->next) append(node->element);
}

Liste& Liste::operator=(const Liste& other)
{
    if (this == &other) return *this;
    clear();
    for (const Node* node = other.head; node != nullptr; node = node->next) append(node->element);
    return *this;
}

Liste::~Liste() { clear(); }

void Liste::append(Matrix* entry)
{
    Node* node = new (std::nothrow) Node{entry, nullptr};
    if (node == nullptr) fatal("Error: Liste: no storage for entry %d", count);
    if (head == nullptr) {
        head = node;
        // The first entry: indexing 0 finds it under the cursor.
        cursor = head;
        cursor_pos = 0;
    } else {
        Node* last = head;
        while (last->next != nullptr) last = last->next;
        last->next = node;
    }
    ++count;
}

Matrix*& Liste::operator[](int index)
{
    if (index < 0 || index >= count) {
        std::puts(bad_index);
        // Past the end there is no node to stop on.
        if (index >= count || count == 0) fatal("Error: Liste [] index %d of %d entries", index, count);
    }
    // Walk on from the cursor, or from the head when index lies behind it or
    // the cursor has run off the end. A negative index stops on the head.
    int steps = index - cursor_pos;
    if (index < cursor_pos || cursor == nullptr) {
        rewind();
        steps = index;
    }
    for (; steps > 0; --steps) advance();
    return cursor->element;
}

Liste::Node* Liste::rewind()
{
    cursor_pos = 0;
    cursor = head;
    return cursor;
}

Liste::Node* Liste::advance()
{
    if (cursor == nullptr) return nullptr;
    ++cursor_pos;
    cursor = cursor->next;
    return cursor;
}

void Liste::clear()
{
    while (head != nullptr) {
        Node* next = head->next;
        delete head;
        head = next;
    }
    count = 0;
    cursor = nullptr;
    cursor_pos = 0;
}

}  // namespace lp

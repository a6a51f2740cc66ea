// Liste: a singly linked list of Matrix pointers with a remembered cursor, so
// that indexing the entries in increasing order walks the chain only once.
// The list owns its nodes, never the matrices its entries point to; a copy
// owns a copy of the chain.
#pragma once

#include <initializer_list>

namespace lp {

class Matrix;

class Liste {
public:
    struct Node {
        Matrix* element;
        Node* next;
    };

    Liste() = default;
    // The list of the given entries, in order.
    Liste(std::initializer_list<Matrix*> entries);
    Liste(const Liste& other);
    Liste& operator=(const Liste& other);
    virtual ~Liste();

    // Links a new node holding entry at the end of the chain.
    void append(Matrix* entry);
    // The entry at position index, walking on from the cursor, or from the
    // head when index lies behind it. An index outside 0..count-1 prints
    // "Liste [] :   Falscher Index"; a negative one then gives entry 0 of a
    // non-empty list, any other ends the process.
    Matrix*& operator[](int index);
    int get_count() const { return count; }
    // Puts the cursor on the head and returns it.
    Node* rewind();
    // Moves the cursor to the next node and returns it; null, and no move,
    // when the cursor is already past the end.
    Node* advance();
    // Releases every node; the list is empty afterwards.
    void clear();

private:
    Node* head = nullptr;
    int count = 0;
    Node* cursor = nullptr;  // node reached by the last indexing
    int cursor_pos = 0;      // its position, 0 for the head
};

}  // namespace lp

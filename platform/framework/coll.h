// The framework's collections: lists walked by POSITION, arrays, and maps
// walked by POSITION. Only what the program uses is offered.
#pragma once

#include "user/user.h"

#include <cstddef>
#include <iterator>
#include <list>
#include <map>
#include <vector>

#include "framework/cstring.h"

struct __POSITION {};
typedef __POSITION* POSITION;

// A doubly linked list whose POSITION is a node.
template <class T, class ARG = const T&>
class CList {
  struct Node : __POSITION {
    Node* prev = nullptr;
    Node* next = nullptr;
    T data;
    explicit Node(ARG v) : data(v) {}
  };

 public:
  CList() = default;
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;
  ~CList() { RemoveAll(); }

  int GetCount() const { return count_; }
  int GetSize() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  T& GetHead() { return head_->data; }
  const T& GetHead() const { return head_->data; }
  T& GetTail() { return tail_->data; }
  const T& GetTail() const { return tail_->data; }

  POSITION AddHead(ARG v) { return InsertBefore(reinterpret_cast<POSITION>(head_), v); }
  POSITION AddTail(ARG v) { return InsertAfter(reinterpret_cast<POSITION>(tail_), v); }
  void AddTail(const CList& other) {
    for (Node* n = other.head_; n; n = n->next) AddTail(n->data);
  }

  // Removes and returns the first element; the list must not be empty.
  T RemoveHead() {
    Node* n = head_;
    T v = n->data;
    Unlink(n);
    return v;
  }
  T RemoveTail() {
    Node* n = tail_;
    T v = n->data;
    Unlink(n);
    return v;
  }
  void RemoveAll() {
    while (head_) Unlink(head_);
  }

  POSITION GetHeadPosition() const { return reinterpret_cast<POSITION>(head_); }
  POSITION GetTailPosition() const { return reinterpret_cast<POSITION>(tail_); }
  T& GetNext(POSITION& pos) {
    Node* n = static_cast<Node*>(pos);
    pos = n->next;
    return n->data;
  }
  const T& GetNext(POSITION& pos) const {
    const Node* n = static_cast<const Node*>(pos);
    pos = n->next;
    return n->data;
  }
  T& GetPrev(POSITION& pos) {
    Node* n = static_cast<Node*>(pos);
    pos = n->prev;
    return n->data;
  }
  T& GetAt(POSITION pos) { return static_cast<Node*>(pos)->data; }
  const T& GetAt(POSITION pos) const { return static_cast<const Node*>(pos)->data; }
  void SetAt(POSITION pos, ARG v) { static_cast<Node*>(pos)->data = v; }
  void RemoveAt(POSITION pos) { Unlink(static_cast<Node*>(pos)); }

  POSITION InsertBefore(POSITION pos, ARG v) {
    Node* at = static_cast<Node*>(pos);
    Node* n = new Node(v);
    if (!at) {  // empty list or insert at head
      n->next = head_;
      if (head_) head_->prev = n;
      head_ = n;
      if (!tail_) tail_ = n;
    } else {
      n->next = at;
      n->prev = at->prev;
      if (at->prev) at->prev->next = n;
      else head_ = n;
      at->prev = n;
    }
    ++count_;
    return n;
  }
  POSITION InsertAfter(POSITION pos, ARG v) {
    Node* at = static_cast<Node*>(pos);
    Node* n = new Node(v);
    if (!at) {
      n->prev = tail_;
      if (tail_) tail_->next = n;
      tail_ = n;
      if (!head_) head_ = n;
    } else {
      n->prev = at;
      n->next = at->next;
      if (at->next) at->next->prev = n;
      else tail_ = n;
      at->next = n;
    }
    ++count_;
    return n;
  }

  POSITION Find(ARG v, POSITION after = nullptr) const {
    Node* n = after ? static_cast<Node*>(after)->next : head_;
    for (; n; n = n->next) {
      if (n->data == v) return n;
    }
    return nullptr;
  }
  POSITION FindIndex(int index) const {
    if (index < 0) return nullptr;
    Node* n = head_;
    while (n && index--) n = n->next;
    return n;
  }

 private:
  void Unlink(Node* n) {
    if (n->prev) n->prev->next = n->next;
    else head_ = n->next;
    if (n->next) n->next->prev = n->prev;
    else tail_ = n->prev;
    delete n;
    --count_;
  }

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};

class CStringList : public CList<CString, LPCWSTR> {
 public:
  using CList::AddHead;
  using CList::AddTail;
  POSITION AddHead(const CString& s) { return CList::AddHead(s.GetString()); }
  POSITION AddTail(const CString& s) { return CList::AddTail(s.GetString()); }
  POSITION Find(LPCWSTR s, POSITION after = nullptr) const { return CList::Find(s, after); }
};

class CPtrList : public CList<void*, void*> {};

// A growable array.
template <class T, class ARG = const T&>
class CArray {
 public:
  int GetSize() const { return int(v_.size()); }
  int GetCount() const { return int(v_.size()); }
  int GetUpperBound() const { return int(v_.size()) - 1; }
  bool IsEmpty() const { return v_.empty(); }
  void SetSize(int n, int /*growBy*/ = -1) { v_.resize(size_t(n < 0 ? 0 : n)); }
  int Add(ARG v) {
    v_.push_back(v);
    return int(v_.size()) - 1;
  }
  T& GetAt(int i) { return v_[size_t(i)]; }
  const T& GetAt(int i) const { return v_[size_t(i)]; }
  void SetAt(int i, ARG v) { v_[size_t(i)] = v; }
  void SetAtGrow(int i, ARG v) {
    if (size_t(i) >= v_.size()) v_.resize(size_t(i) + 1);
    v_[size_t(i)] = v;
  }
  T& ElementAt(int i) { return v_[size_t(i)]; }
  T& operator[](int i) { return v_[size_t(i)]; }
  const T& operator[](int i) const { return v_[size_t(i)]; }
  void InsertAt(int i, ARG v, int count = 1) { v_.insert(v_.begin() + i, size_t(count), v); }
  void RemoveAt(int i, int count = 1) { v_.erase(v_.begin() + i, v_.begin() + i + count); }
  void RemoveAll() { v_.clear(); }
  T* GetData() { return v_.data(); }

 private:
  std::vector<T> v_;
};

class CStringArray : public CArray<CString, LPCWSTR> {};
class CPtrArray : public CArray<void*, void*> {};
class CDWordArray : public CArray<DWORD, DWORD> {};
class CUIntArray : public CArray<UINT, UINT> {};

// A map walked by POSITION in key order.
template <class KEY, class VALUE>
class CMapOrdered {
  struct Entry : __POSITION {
    KEY key;
    VALUE value;
  };

 public:
  int GetCount() const { return int(m_.size()); }
  int GetSize() const { return int(m_.size()); }
  bool IsEmpty() const { return m_.empty(); }
  bool Lookup(const KEY& key, VALUE& value) const {
    auto it = m_.find(key);
    if (it == m_.end()) return false;
    value = it->second.value;
    return true;
  }
  void SetAt(const KEY& key, const VALUE& value) {
    Entry& e = m_[key];
    e.key = key;
    e.value = value;
  }
  VALUE& operator[](const KEY& key) {
    Entry& e = m_[key];
    e.key = key;
    return e.value;
  }
  bool RemoveKey(const KEY& key) { return m_.erase(key) > 0; }
  void RemoveAll() { m_.clear(); }
  POSITION GetStartPosition() const {
    return m_.empty() ? nullptr : const_cast<Entry*>(&m_.begin()->second);
  }
  void GetNextAssoc(POSITION& pos, KEY& key, VALUE& value) const {
    const Entry* e = static_cast<const Entry*>(pos);
    key = e->key;
    value = e->value;
    auto it = m_.find(e->key);
    ++it;
    pos = it == m_.end() ? nullptr : const_cast<Entry*>(&it->second);
  }

 private:
  std::map<KEY, Entry> m_;
};

class CMapStringToString : public CMapOrdered<CString, CString> {
 public:
  bool Lookup(LPCWSTR key, CString& value) const { return CMapOrdered::Lookup(CString(key), value); }
  void SetAt(LPCWSTR key, LPCWSTR value) { CMapOrdered::SetAt(CString(key), CString(value)); }
  bool RemoveKey(LPCWSTR key) { return CMapOrdered::RemoveKey(CString(key)); }
};

class CMapStringToPtr : public CMapOrdered<CString, void*> {
 public:
  bool Lookup(LPCWSTR key, void*& value) const { return CMapOrdered::Lookup(CString(key), value); }
  void SetAt(LPCWSTR key, void* value) { CMapOrdered::SetAt(CString(key), value); }
  bool RemoveKey(LPCWSTR key) { return CMapOrdered::RemoveKey(CString(key)); }
};

class CMapPtrToPtr : public CMapOrdered<void*, void*> {};

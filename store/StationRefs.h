#pragma once

#include "records/Station.h"

#include <cstddef>
#include <iterator>
#include <vector>

namespace vantuli {

// A list of stations held by address: each entry points at a station the
// store keeps for as long as it lives (its catalog), so that a list of the
// whole catalog costs a pointer per station instead of a copy. It reads like
// a vector of stations.
class StationRefs {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = Station;
        using difference_type = std::ptrdiff_t;
        using pointer = const Station *;
        using reference = const Station &;

        const_iterator() = default;
        explicit const_iterator(const Station *const *at) : at_(at) {}
        reference operator*() const { return **at_; }
        pointer operator->() const { return *at_; }
        reference operator[](difference_type n) const { return *at_[n]; }
        const_iterator &operator++() { ++at_; return *this; }
        const_iterator operator++(int) { return const_iterator(at_++); }
        const_iterator &operator--() { --at_; return *this; }
        const_iterator operator--(int) { return const_iterator(at_--); }
        const_iterator &operator+=(difference_type n) { at_ += n; return *this; }
        const_iterator &operator-=(difference_type n) { at_ -= n; return *this; }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const_iterator a, const_iterator b) { return a.at_ - b.at_; }
        friend bool operator==(const_iterator a, const_iterator b) { return a.at_ == b.at_; }
        friend auto operator<=>(const_iterator a, const_iterator b) { return a.at_ <=> b.at_; }

    private:
        const Station *const *at_ = nullptr;
    };
    using value_type = Station;
    using size_type = size_t;
    using iterator = const_iterator;

    void reserve(size_t n) { refs_.reserve(n); }
    // The station must outlive the list.
    void push_back(const Station &station) { refs_.push_back(&station); }

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    const Station &operator[](size_t i) const { return *refs_[i]; }
    const Station &front() const { return *refs_.front(); }
    const Station &back() const { return *refs_.back(); }
    const_iterator begin() const { return const_iterator(refs_.data()); }
    const_iterator end() const { return const_iterator(refs_.data() + refs_.size()); }

private:
    std::vector<const Station *> refs_;
};

} // namespace vantuli

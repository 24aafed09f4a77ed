#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern::json {

// Rewrites JSON text straight into its compact text, the bytes that
// append_compact writes for what parse_json makes of it, without building a
// value: strings that need no escaping are copied as they stand, object
// members are written in arrival order and then moved into key order in place.
// Relaying a record costs one pass over its text this way, and no allocation
// once the scratch space has grown.
//
// Like parse_json's own fast path it declines whatever is not plainly
// well-formed (errors, lone surrogates, numbers out of range, nesting past
// kMaxDepth): parse_json then decides, and owns every error message.
//
// One rewriter is used by one thread at a time; it keeps its scratch space
// between texts.
class CompactRewriter {
public:
    // Appends the compact text of text to out and answers true, or answers
    // false with out as it was. text must be UTF-8 (the line readers check
    // every line before it gets here).
    bool rewrite(std::string_view text, std::string& out);

    // After a rewrite that answered true and whose text is an object: the
    // compact text of the value of its top-level member key, a view into the
    // out given to rewrite (valid while out is unchanged). nullopt when there
    // is no such member or the text was no object. key is one that JSON
    // writes without escapes, such as "type" or "id".
    std::optional<std::string_view> top_level_member(std::string_view key) const;
    // How many members that object has (repeated keys counted once).
    std::size_t top_level_size() const { return out_ != nullptr ? top_level_.size() : 0; }

private:
    friend class Rewriting;

    // A member while its object is being written: where its key's decoded
    // bytes are, and where its text ("key":value) lies in the output.
    struct MemberSpan {
        std::size_t key_at;  // into the input text, or into keys_ when key_decoded
        std::size_t key_size;
        bool key_decoded;
        std::size_t begin;        // the key's opening quote in the output
        std::size_t value_begin;  // the first byte of the value in the output
        std::size_t end;          // one past the value
    };

    // Where a top-level member lies in the output: found by its key's
    // compact text there, so that no key is copied per record.
    struct TopLevelMember {
        std::size_t begin;  // the key's opening quote
        std::size_t value_begin;
        std::size_t value_end;
    };

    std::vector<MemberSpan> members_;  // a stack: each open object's members above its parent's
    std::string keys_;                 // decoded keys that had escapes
    std::string moved_;                // an unsorted object's text while it is put in order
    // A member's decoded key, while its object is put in order.
    struct SortKey {
        std::string_view key;
        std::uint64_t prefix;  // the key's first eight bytes, big-endian: most keys differ there
        std::size_t member;
    };
    std::vector<SortKey> order_;
    std::vector<TopLevelMember> top_level_;
    const std::string* out_ = nullptr;  // the output of the last rewrite that succeeded
};

}  // namespace quern::json

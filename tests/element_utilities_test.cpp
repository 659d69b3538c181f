// walk_elements, set_image_flags and clear_image_flags on a small test-local tree: the
// walk follows first children only, stops at a leaf with NULL, and then changes nothing.
#include <gtest/gtest.h>

#include "elements.h"

namespace {

// root -> {first, second}; first -> {leaf}; second and leaf have no children.
// first's child list is empty-but-present for `empty_list` below.
struct TestTree {
    ElementHeader leaf{};
    ElementHeader second{};
    ElementHeader* first_children[2] = {&leaf, nullptr};
    ElementHeader first{};
    ElementHeader* root_children[3] = {&first, &second, nullptr};
    ElementHeader root{};
    ElementHeader* no_children[1] = {nullptr};
    ElementHeader empty_list{};

    TestTree() {
        first.next_elements = first_children;
        root.next_elements = root_children;
        empty_list.next_elements = no_children;
        root.image_flags = 0x1;
        first.image_flags = 0x3;
        second.image_flags = 0x7;
        leaf.image_flags = 0x40000005;
    }
    std::array<uint32_t, 5> flags() const {
        return {root.image_flags, first.image_flags, second.image_flags, leaf.image_flags, empty_list.image_flags};
    }
};

TEST(WalkElements, FollowsFirstChildrenAndEndsAtLeaves) {
    TestTree tree;
    EXPECT_EQ(walk_elements(&tree.root, 0), &tree.root);
    EXPECT_EQ(walk_elements(&tree.root, 1), &tree.first);
    EXPECT_EQ(walk_elements(&tree.root, 2), &tree.leaf);
    EXPECT_EQ(walk_elements(&tree.root, 3), nullptr) << "the leaf has no children";
    EXPECT_EQ(walk_elements(&tree.leaf, 0), &tree.leaf);
    EXPECT_EQ(walk_elements(&tree.second, 1), nullptr);
    EXPECT_EQ(walk_elements(&tree.empty_list, 1), nullptr) << "a child list holding only NULL";
    EXPECT_EQ(walk_elements(nullptr, 0), nullptr);
    EXPECT_EQ(walk_elements(nullptr, 5), nullptr);
    // A huge step count ends at the first leaf, not after 4 billion steps.
    EXPECT_EQ(walk_elements(&tree.root, 0xFFFFFFFFu), nullptr);
}

TEST(ImageFlags, SetAndClearChangeOnlyTheElementReached) {
    TestTree tree;
    EXPECT_EQ(set_image_flags(&tree.root, 2, 0x80000004), &tree.leaf);
    EXPECT_EQ(tree.flags(), (std::array<uint32_t, 5>{0x1, 0x3, 0x7, 0xC0000005, 0}));
    EXPECT_EQ(clear_image_flags(&tree.root, 1, 0x2), &tree.first);
    EXPECT_EQ(tree.flags(), (std::array<uint32_t, 5>{0x1, 0x1, 0x7, 0xC0000005, 0}));
    EXPECT_EQ(set_image_flags(&tree.root, 0, 0x40000000), &tree.root);
    EXPECT_EQ(tree.flags(), (std::array<uint32_t, 5>{0x40000001, 0x1, 0x7, 0xC0000005, 0}));
}

TEST(ImageFlags, BitsAlreadyInPlaceLeaveFlagsUnchanged) {
    TestTree tree;
    const auto before = tree.flags();
    EXPECT_EQ(set_image_flags(&tree.root, 2, 0x40000004), &tree.leaf) << "both bits already set";
    EXPECT_EQ(clear_image_flags(&tree.root, 1, 0x80000004), &tree.first) << "neither bit set";
    EXPECT_EQ(set_image_flags(&tree.root, 1, 0), &tree.first);
    EXPECT_EQ(clear_image_flags(&tree.root, 1, 0), &tree.first);
    EXPECT_EQ(tree.flags(), before);
}

TEST(ImageFlags, AWalkThatEndsEarlyChangesNothing) {
    TestTree tree;
    const auto before = tree.flags();
    EXPECT_EQ(set_image_flags(&tree.root, 3, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(clear_image_flags(&tree.root, 3, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(set_image_flags(&tree.second, 1, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(clear_image_flags(nullptr, 0, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(set_image_flags(nullptr, 0, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(tree.flags(), before);
}

}  // namespace

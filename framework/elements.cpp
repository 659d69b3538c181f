// The element utility routines: walk a tree along first children and change the
// image flags of the element reached.
#include "elements.h"

ElementHeader* walk_elements(ElementHeader* element, uint32_t step_count) {
    // The step count comes from module code, but the walk itself ends at the first leaf,
    // so it never runs longer than the tree is deep.
    for (uint32_t step = 0; element != nullptr && step < step_count; ++step) {
        ElementHeader* const* children = element->next_elements;
        element = children != nullptr ? children[0] : nullptr;
    }
    return element;
}

ElementHeader* set_image_flags(ElementHeader* element, uint32_t step_count, uint32_t bits) {
    ElementHeader* reached = walk_elements(element, step_count);
    if (reached != nullptr) reached->image_flags |= bits;
    return reached;
}

ElementHeader* clear_image_flags(ElementHeader* element, uint32_t step_count, uint32_t bits) {
    ElementHeader* reached = walk_elements(element, step_count);
    if (reached != nullptr) reached->image_flags &= ~bits;
    return reached;
}

// Laying out and drawing the contact sheet: the layout is computed first, apart from the
// drawing, so that its measures can be checked without reading pixels.
#include "contact_sheet.h"

#include <algorithm>

namespace kestrel::picture {

SheetLayout contact_sheet_layout(const std::vector<SheetRow>& rows, TextFace& label_face) {
    SheetLayout layout;
    const int label_line = label_face.line_height(sheet_label_size);
    const int title_line = label_face.line_height(sheet_title_size);
    int y = sheet_margin;
    int right = 0;
    for (const SheetRow& row : rows) {
        const int title_width = label_face.text_width(row.title, sheet_title_size);
        layout.titles.push_back({sheet_margin, y, title_width, title_line});
        right = std::max(right, sheet_margin + title_width);
        y += title_line + sheet_label_gap;
        std::vector<SheetCell>& cells = layout.cells.emplace_back();
        int x = sheet_margin;
        int line_height = 0;
        for (const SheetFrame& frame : row.frames) {
            const int cell_width = std::max(frame.image.width(), label_face.text_width(frame.label, sheet_label_size));
            if (x > sheet_margin && x + cell_width + sheet_margin > sheet_wrap_width) {
                y += line_height + sheet_row_gap;
                x = sheet_margin;
                line_height = 0;
            }
            SheetCell cell;
            cell.frame = {x + (cell_width - frame.image.width()) / 2, y, frame.image.width(), frame.image.height()};
            cell.label = {x, y + frame.image.height() + sheet_label_gap, cell_width, label_line};
            cells.push_back(cell);
            line_height = std::max(line_height, frame.image.height() + sheet_label_gap + label_line);
            right = std::max(right, x + cell_width);
            x += cell_width + sheet_cell_gap;
        }
        y += line_height + sheet_row_gap;
    }
    layout.width = right + sheet_margin;
    layout.height = y - sheet_row_gap + sheet_margin;
    return layout;
}

Image contact_sheet(const std::vector<SheetRow>& rows, TextFace& label_face) {
    const bool any = std::any_of(rows.begin(), rows.end(), [](const SheetRow& row) { return !row.frames.empty(); });
    if (!any) throw ImageError("a contact sheet needs at least one frame");
    const SheetLayout layout = contact_sheet_layout(rows, label_face);
    Image sheet(layout.width, layout.height, sheet_colour);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const TextBox& title = layout.titles[r];
        // Centred in a box exactly its width: the title starts at the margin.
        label_face.draw_centred(sheet, title, rows[r].title, sheet_title_colour, sheet_title_size);
        for (std::size_t f = 0; f < rows[r].frames.size(); ++f) {
            const SheetCell& cell = layout.cells[r][f];
            sheet.paste(rows[r].frames[f].image, cell.frame.x, cell.frame.y);
            label_face.draw_centred(sheet, cell.label, rows[r].frames[f].label, sheet_label_colour, sheet_label_size);
        }
    }
    return sheet;
}

}  // namespace kestrel::picture

#include "forms/forms.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace {

using Corvanith::Forms::PositionForm;

TEST(PositionFormTest, Table)
{
    struct Case {
        QSize Owner;
        QSize Form;
        float HorzFactor;
        float VertFactor;
        QPoint Expected;
    };
    const Case cases[] = {
        {{800, 600}, {254, 338}, 0.5f, 0.33f, {373, 186}},
        {{801, 600}, {254, 338}, 0.5f, 0.33f, {374, 186}},   // 273.5 rounds to 274
        {{803, 600}, {254, 338}, 0.5f, 0.33f, {374, 186}},   // 274.5 rounds to 274
        {{800, 600}, {421, 126}, 0.5f, 0.33f, {290, 256}},   // 189.5 rounds to 190
        {{200, 150}, {421, 126}, 0.5f, 0.33f, {-10, 108}},   // larger than its owner: not clamped
        {{800, 600}, {254, 550}, 0.5f, 0.33f, {373, 117}},   // 50 x 0.33f = 16.5000007: not a half
        {{800, 600}, {800, 600}, 0.5f, 0.33f, {100, 100}},
        {{800, 600}, {200, 100}, 0.0f, 1.0f, {100, 600}},
        {{800, 600}, {200, 100}, 1.0f, 0.0f, {700, 100}},
    };
    for (const Case& c : cases) {
        QWidget owner;
        owner.setGeometry(QRect(QPoint(100, 100), c.Owner));
        QWidget form;
        form.resize(c.Form);
        form.move(-5000, -5000);
        PositionForm(form, owner, c.HorzFactor, c.VertFactor);
        EXPECT_EQ(form.pos(), c.Expected) << c.Owner.width() << "x" << c.Owner.height() << " owner, "
                                          << c.Form.width() << "x" << c.Form.height() << " form";
        EXPECT_EQ(form.size(), c.Form);
    }
}

TEST(PositionFormTest, FollowsAnOwnerThatMoved)
{
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    QWidget form;
    form.resize(254, 338);
    PositionForm(form, owner, 0.5f, 0.33f);
    owner.move(-300, 40);
    PositionForm(form, owner, 0.5f, 0.33f);
    EXPECT_EQ(form.pos(), QPoint(-27, 126));
}

} // namespace

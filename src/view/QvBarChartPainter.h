#pragma once
// The painters of the percentage bars: one plain two-colour painter and three families that
// draw skin bitmaps held as Qt resources (":/skins/<RESOURCE NAME>"). A painter draws one
// bar with an optional caption into a rectangle of a QPainter; the XOR and OR blits of the
// captions and of the selected variants need a raster paint device, so the canvas must be a
// QPainter on a QImage of Format_RGB32 (or a widget backed by one).
//
// Rectangles are cells: a bar of a cell is as high as the cell and starts at its left edge.
// Percent runs from 0 to 1; an empty Text draws no caption.
//
// Threading: GUI thread only. A painter is made once per settings change; Paint only blits.

#include "settings/BarChartPainterRegistry.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <memory>
#include <string_view>

class QPainter;

namespace qv {

class TQvBarChartPainter {
public:
    TQvBarChartPainter() = default;
    virtual ~TQvBarChartPainter() = default;
    TQvBarChartPainter(const TQvBarChartPainter&) = delete;
    TQvBarChartPainter& operator=(const TQvBarChartPainter&) = delete;

    // The registry descriptor of the painter's class.
    [[nodiscard]] virtual const TBarChartPainterClass& GetClass() const noexcept = 0;
    // The display name shown to the user, the registry's key.
    [[nodiscard]] std::string_view GetName() const noexcept { return GetClass().Name; }

    // The bar of a normal row.
    virtual void Paint(QPainter& Canvas, const QRect& Rect, double Percent,
                       const QString& Text) = 0;
    // The bar of a selected row; the cell is expected to carry the selection background.
    virtual void PaintSelected(QPainter& Canvas, const QRect& Rect, double Percent,
                               const QString& Text) = 0;
};

// The plain painter: a framed bar with a white inner frame.
class TQuorvelOneBarChartPainter : public TQvBarChartPainter {
public:
    // The gold bar of the "Quorvel Classic" style.
    TQuorvelOneBarChartPainter();
    TQuorvelOneBarChartPainter(QColor FrameColor, QColor FillColor);

    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TQuorvelOneBarChartPainterClass;
    }
    void Paint(QPainter& Canvas, const QRect& Rect, double Percent, const QString& Text) override;
    void PaintSelected(QPainter& Canvas, const QRect& Rect, double Percent,
                       const QString& Text) override;

    [[nodiscard]] QColor GetFrameColor() const { return FrameColor; }
    [[nodiscard]] QColor GetFillColor() const { return FillColor; }

private:
    QColor FrameColor;
    QColor FillColor;

    static void DrawCenteredCaption(QPainter& Canvas, const QRect& Rect, const QColor& Color,
                                    const QString& Text);
};

// The base of the skins. A skin whose bitmap cannot be loaded, or is too narrow for its
// family, draws a plain grey bar instead (IsSkinLoaded() is false then).
class TBasicBarChartBitmapPainter : public TQvBarChartPainter {
public:
    // Rect with its width scaled by Percent, rounded half to even.
    [[nodiscard]] virtual QRect GetBarRect(const QRect& Rect, double Percent) const;
    // Text in Color with a transparent background, horizontally centred, one pixel below
    // Rect's top, clipped to Rect.
    virtual void DrawCaption(QPainter& Canvas, const QRect& Rect, const QColor& Color,
                             const QString& Text) const;
    // The name of the skin's resource, without regard to case.
    [[nodiscard]] virtual const char* GetResourceName() const noexcept = 0;

    void PaintSelected(QPainter& Canvas, const QRect& Rect, double Percent,
                       const QString& Text) override;

    [[nodiscard]] bool IsSkinLoaded() const noexcept { return !Bitmap.isNull(); }

    // The skin resource ResourceName as an RGB32 image; a null image when there is none.
    [[nodiscard]] static QImage LoadSkin(const char* ResourceName);

protected:
    explicit TBasicBarChartBitmapPainter(QImage Skin);

    // The skin (for the stretch family its middle part); null when not loaded.
    QImage Bitmap;

    // Whether PaintSelected adds the caption in the highlight text colour.
    [[nodiscard]] virtual bool SelectedCaption() const noexcept { return true; }
    // The stand-in bar of a skin that could not be loaded.
    static void PaintFallbackBar(QPainter& Canvas, const QRect& BarRect);
    // The caption in TextColor whose part over the bar (left of BarEdge) turns BarTextColor.
    void DrawTwoColourCaption(QPainter& Canvas, const QRect& Rect, int BarEdge,
                              const QColor& TextColor, const QColor& BarTextColor,
                              const QString& Text) const;
};

class TBarChartRepeatBitmapPainter : public TBasicBarChartBitmapPainter {
public:
    void Paint(QPainter& Canvas, const QRect& Rect, double Percent, const QString& Text) override;

protected:
    explicit TBarChartRepeatBitmapPainter(QImage Skin);
    QColor BarTextColor;
    QColor TextColor;
};

class TBarChartStretchBitmapPainter : public TBasicBarChartBitmapPainter {
public:
    void Paint(QPainter& Canvas, const QRect& Rect, double Percent, const QString& Text) override;

protected:
    // Cuts the two-column caps off Skin; Bitmap keeps the middle part.
    explicit TBarChartStretchBitmapPainter(QImage Skin);
    QImage LeftCap;
    QImage RightCap;
    QColor BarTextColor;
    QColor TextColor;
};

class TBarChartClippingBitmapPainter : public TBasicBarChartBitmapPainter {
public:
    void Paint(QPainter& Canvas, const QRect& Rect, double Percent, const QString& Text) override;

protected:
    explicit TBarChartClippingBitmapPainter(QImage Skin);
    [[nodiscard]] bool SelectedCaption() const noexcept override { return false; }
    QColor TextColor;
};

class TSkinCairoHelix : public TBarChartRepeatBitmapPainter {
public:
    TSkinCairoHelix();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinCairoHelixClass;
    }
    static constexpr const char* ResourceName = "RES_CHARTBAR_SKIN_CAIRO";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }

protected:
    explicit TSkinCairoHelix(QImage Skin);
};

// The style of a fresh user: the look and the name of TSkinCairoHelix, but not registered.
class TDefaultBarChartPainter : public TSkinCairoHelix {
public:
    TDefaultBarChartPainter() = default;
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TDefaultBarChartPainterClass;
    }
};

class TSkinCrystal : public TBarChartStretchBitmapPainter {
public:
    TSkinCrystal();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinCrystalClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_Crystal";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinChromeRed : public TBarChartStretchBitmapPainter {
public:
    TSkinChromeRed();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinChromeRedClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_RedGlass";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinBlackIce : public TBarChartStretchBitmapPainter {
public:
    TSkinBlackIce();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinBlackIceClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_BlackIce";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinTrueBlue : public TBarChartStretchBitmapPainter {
public:
    TSkinTrueBlue();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinTrueBlueClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_BlueChip";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinBronceAge : public TBarChartStretchBitmapPainter {
public:
    TSkinBronceAge();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinBronceAgeClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_BrownBrick";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinCenterCourt : public TBarChartStretchBitmapPainter {
public:
    TSkinCenterCourt();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinCenterCourtClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_CenterCourt";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
};

class TSkinSpectrum : public TBarChartClippingBitmapPainter {
public:
    TSkinSpectrum();
    [[nodiscard]] const TBarChartPainterClass& GetClass() const noexcept override {
        return TSkinSpectrumClass;
    }
    static constexpr const char* ResourceName = "RES_SKIN_Spectrum";
    [[nodiscard]] const char* GetResourceName() const noexcept override { return ResourceName; }
    void Paint(QPainter& Canvas, const QRect& Rect, double Percent, const QString& Text) override;

protected:
    [[nodiscard]] bool SelectedCaption() const noexcept override { return true; }
};

// A new painter of PainterClass; TDefaultBarChartPainter for null and for a descriptor
// without a painter. The caller owns it.
[[nodiscard]] std::unique_ptr<TQvBarChartPainter>
CreatePainter(const TBarChartPainterClass* PainterClass);

// The bar length of a cell Width pixels wide: Width × Percent rounded half to even.
[[nodiscard]] int BarWidth(int Width, double Percent) noexcept;

} // namespace qv

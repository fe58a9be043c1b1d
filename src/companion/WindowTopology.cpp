#include "companion/Ledge.h"

namespace WindowTopology {

std::vector<Ledge> ledges(const std::vector<WindowInfo> &frontToBack, double minimumWidth)
{
    std::vector<Ledge> result;
    struct Piece {
        double a, b;
    };
    std::vector<Piece> pieces, cut;
    for (size_t i = 0; i < frontToBack.size(); ++i) {
        if (frontToBack[i].own)
            continue;
        const QRectF &w = frontToBack[i].frame;
        const double y = geo::maxY(w);
        pieces.assign(1, Piece{w.x(), w.x() + w.width()});
        for (size_t j = 0; j < i && !pieces.empty(); ++j) {
            const QRectF &f = frontToBack[j].frame;
            if (!(geo::minY(f) < y && y < geo::maxY(f)))
                continue;
            const double fMin = f.x(), fMax = f.x() + f.width();
            cut.clear();
            for (const Piece &p : pieces) {
                if (p.a < fMax && fMin < p.b) {
                    if (p.a < fMin)
                        cut.push_back({p.a, fMin});
                    if (fMax < p.b)
                        cut.push_back({fMax, p.b});
                } else {
                    cut.push_back(p);
                }
            }
            pieces.swap(cut);
        }
        for (const Piece &p : pieces) {
            if (p.b > p.a && p.b - p.a >= minimumWidth)
                result.push_back(Ledge{p.a, p.b, y, frontToBack[i].number, w.x()});
        }
    }
    return result;
}

} // namespace WindowTopology

// SPDX-License-Identifier: MIT
#include "activity/PowerModel.h"

#include <Eigen/Dense>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace drainwatch {
namespace {

// A term is used only where its input is known in every minute kept; a
// minute lacking a term known in at least this share of minutes is dropped
// rather than filled with 0, which would bias the fit.
constexpr double kKnownShare = 0.9;
constexpr double kMinStdDev = 1e-6;

struct Row {
    double powerW = 0;
    double inputs[4] = {0, 0, 0, 0}; // cores, brightness, GPU busy, MB/s
    bool known[4] = {true, false, false, false};
};

bool finite(double v) { return std::isfinite(v); }

// Lawson-Hanson active set on the normal equations of unit-norm columns: the
// subproblems are a few terms wide however many minutes there are.
Eigen::VectorXd nnls(const Eigen::MatrixXd& a, const Eigen::VectorXd& b)
{
    const Eigen::Index n = a.cols();
    Eigen::VectorXd scale = a.colwise().norm().transpose();
    for (Eigen::Index j = 0; j < n; ++j)
        if (scale(j) <= 0)
            scale(j) = 1;
    const Eigen::MatrixXd as = a * scale.cwiseInverse().asDiagonal();
    const Eigen::MatrixXd gram = as.transpose() * as;
    const Eigen::VectorXd atb = as.transpose() * b;
    Eigen::VectorXd x = Eigen::VectorXd::Zero(n);
    std::vector<bool> passive(static_cast<size_t>(n), false);
    const double tol = 1e-10 * std::max(1.0, atb.norm());
    auto solvePassive = [&](Eigen::VectorXd& z) {
        std::vector<Eigen::Index> idx;
        for (Eigen::Index j = 0; j < n; ++j)
            if (passive[static_cast<size_t>(j)])
                idx.push_back(j);
        z = Eigen::VectorXd::Zero(n);
        if (idx.empty())
            return;
        const auto m = static_cast<Eigen::Index>(idx.size());
        Eigen::MatrixXd sub(m, m);
        Eigen::VectorXd rhs(m);
        for (Eigen::Index r = 0; r < m; ++r) {
            rhs(r) = atb(idx[static_cast<size_t>(r)]);
            for (Eigen::Index c = 0; c < m; ++c)
                sub(r, c) = gram(idx[static_cast<size_t>(r)], idx[static_cast<size_t>(c)]);
        }
        const Eigen::VectorXd s = sub.ldlt().solve(rhs);
        for (Eigen::Index k = 0; k < m; ++k)
            z(idx[static_cast<size_t>(k)]) = s(k);
    };
    for (int outer = 0; outer < 3 * n + 10; ++outer) {
        const Eigen::VectorXd w = atb - gram * x;
        Eigen::Index best = -1;
        double bestW = tol;
        for (Eigen::Index j = 0; j < n; ++j)
            if (!passive[static_cast<size_t>(j)] && w(j) > bestW) {
                bestW = w(j);
                best = j;
            }
        if (best < 0)
            break;
        passive[static_cast<size_t>(best)] = true;
        for (int inner = 0; inner < 3 * n + 10; ++inner) {
            Eigen::VectorXd z;
            solvePassive(z);
            bool allPositive = true;
            for (Eigen::Index j = 0; j < n; ++j)
                if (passive[static_cast<size_t>(j)] && z(j) <= 0)
                    allPositive = false;
            if (allPositive) {
                x = z;
                break;
            }
            double alpha = 1;
            for (Eigen::Index j = 0; j < n; ++j)
                if (passive[static_cast<size_t>(j)] && z(j) <= 0)
                    alpha = std::min(alpha, x(j) / (x(j) - z(j)));
            x += alpha * (z - x);
            for (Eigen::Index j = 0; j < n; ++j)
                if (passive[static_cast<size_t>(j)] && x(j) <= 1e-14) {
                    passive[static_cast<size_t>(j)] = false;
                    x(j) = 0;
                }
        }
    }
    return x.cwiseQuotient(scale).cwiseMax(0.0);
}

} // namespace

PowerModel fitPowerModel(const std::vector<ModelMinute>& minutes, double now)
{
    PowerModel model;
    model.fittedAt = now;
    std::vector<Row> rows;
    rows.reserve(minutes.size());
    for (const ModelMinute& m : minutes) {
        if (!finite(m.seconds) || m.seconds <= 0 || !finite(m.energyWh) || m.energyWh < 0 || !finite(m.cpuSeconds) ||
            m.cpuSeconds < 0)
            continue;
        Row r;
        r.powerW = m.energyWh * 3600 / m.seconds;
        r.inputs[0] = m.cpuSeconds / m.seconds;
        const std::optional<double> extra[3] = {m.screenSeconds, m.gpuSeconds,
                                                m.networkBytes ? std::optional<double>(*m.networkBytes / 1e6)
                                                               : std::nullopt};
        for (int t = 0; t < 3; ++t)
            if (extra[t] && finite(*extra[t]) && *extra[t] >= 0) {
                r.inputs[t + 1] = *extra[t] / m.seconds;
                r.known[t + 1] = true;
            }
        if (finite(r.powerW))
            rows.push_back(r);
    }
    model.minutes = static_cast<int>(rows.size());
    if (model.minutes < kMinutesToLearn)
        return model;

    bool use[4] = {true, false, false, false};
    for (int t = 1; t < 4; ++t) {
        const auto known = std::count_if(rows.begin(), rows.end(), [t](const Row& r) { return r.known[t]; });
        use[t] = static_cast<double>(known) >= kKnownShare * static_cast<double>(rows.size());
    }
    std::erase_if(rows, [&](const Row& r) {
        for (int t = 1; t < 4; ++t)
            if (use[t] && !r.known[t])
                return true;
        return false;
    });
    for (int t = 0; t < 4; ++t) {
        if (!use[t])
            continue;
        double mean = 0, sq = 0;
        for (const Row& r : rows)
            mean += r.inputs[t];
        mean /= static_cast<double>(std::max<size_t>(rows.size(), 1));
        for (const Row& r : rows)
            sq += (r.inputs[t] - mean) * (r.inputs[t] - mean);
        if (rows.size() < 2 || std::sqrt(sq / static_cast<double>(rows.size() - 1)) < kMinStdDev)
            use[t] = false;
    }
    if (!use[0] || static_cast<int>(rows.size()) < kMinutesToLearn)
        return model;

    std::vector<int> terms;
    for (int t = 0; t < 4; ++t)
        if (use[t])
            terms.push_back(t);
    std::vector<const Row*> fitted, heldOut;
    for (size_t i = 0; i < rows.size(); ++i)
        (i % 5 == 4 ? heldOut : fitted).push_back(&rows[i]);
    const auto columns = static_cast<Eigen::Index>(terms.size() + 1);
    Eigen::MatrixXd a(static_cast<Eigen::Index>(fitted.size()), columns);
    Eigen::VectorXd b(static_cast<Eigen::Index>(fitted.size()));
    for (size_t i = 0; i < fitted.size(); ++i) {
        const auto r = static_cast<Eigen::Index>(i);
        a(r, 0) = 1;
        for (size_t k = 0; k < terms.size(); ++k)
            a(r, static_cast<Eigen::Index>(k + 1)) = fitted[i]->inputs[terms[k]];
        b(r) = fitted[i]->powerW;
    }
    // Collinear terms cannot be told apart: leave the later one out.
    const Eigen::VectorXd norms = a.colwise().norm().transpose().cwiseMax(1e-300);
    const Eigen::MatrixXd unitColumns = a * norms.cwiseInverse().asDiagonal();
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(unitColumns);
    qr.setThreshold(1e-8);
    if (qr.rank() < columns) {
        std::vector<int> independent;
        Eigen::MatrixXd kept(a.rows(), 0);
        for (Eigen::Index c = 0; c < columns; ++c) {
            Eigen::MatrixXd trial(a.rows(), kept.cols() + 1);
            trial << kept, a.col(c) / std::max(a.col(c).norm(), 1e-300);
            Eigen::ColPivHouseholderQR<Eigen::MatrixXd> q(trial);
            q.setThreshold(1e-8);
            if (q.rank() == trial.cols()) {
                kept = trial;
                if (c > 0)
                    independent.push_back(terms[static_cast<size_t>(c - 1)]);
            } else if (c <= 1) {
                return model; // base or CPU indistinguishable
            }
        }
        if (independent.empty() || independent.front() != 0)
            return model;
        return fitPowerModel(
            [&] {
                std::vector<ModelMinute> reduced = minutes;
                for (ModelMinute& m : reduced) {
                    auto drop = [&](int t) {
                        return std::find(independent.begin(), independent.end(), t) == independent.end();
                    };
                    if (drop(1))
                        m.screenSeconds.reset();
                    if (drop(2))
                        m.gpuSeconds.reset();
                    if (drop(3))
                        m.networkBytes.reset();
                }
                return reduced;
            }(),
            now);
    }
    const Eigen::VectorXd x = nnls(a, b);
    if (!x.allFinite())
        return model;
    auto predict = [&](const Row& r) {
        double w = x(0);
        for (size_t k = 0; k < terms.size(); ++k)
            w += x(static_cast<Eigen::Index>(k + 1)) * r.inputs[terms[k]];
        return w;
    };
    double mean = b.mean(), ssRes = 0, ssTot = 0;
    for (size_t i = 0; i < fitted.size(); ++i) {
        const double e = fitted[i]->powerW - predict(*fitted[i]);
        ssRes += e * e;
        ssTot += (fitted[i]->powerW - mean) * (fitted[i]->powerW - mean);
    }
    double absErr = 0;
    for (const Row* r : heldOut)
        absErr += std::abs(r->powerW - predict(*r));
    model.baseW = x(0);
    std::optional<double>* slots[4] = {&model.cpuW, &model.screenW, &model.gpuW, &model.netW};
    for (size_t k = 0; k < terms.size(); ++k)
        *slots[terms[k]] = x(static_cast<Eigen::Index>(k + 1));
    model.r2 = ssTot > 0 ? std::clamp(1 - ssRes / ssTot, 0.0, 1.0) : 0.0;
    model.heldOutErrorW = heldOut.empty() ? 0.0 : absErr / static_cast<double>(heldOut.size());
    return model;
}

std::string modelQualityText(const PowerModel& model)
{
    if (!model.determined()) {
        if (model.minutes < kMinutesToLearn)
            return fmt::format("learning this laptop: {} of {} minutes", model.minutes, kMinutesToLearn);
        return fmt::format("learning this laptop: {} minutes, too little variety yet", model.minutes);
    }
    return fmt::format("model of this laptop: R² {:.2f}, held-out error {:.2f} W, {} minutes", model.r2.value_or(0),
                       model.heldOutErrorW.value_or(0), model.minutes);
}

} // namespace drainwatch

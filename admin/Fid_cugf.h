#pragma once

#include <cstdint>

#include "admin/Group.h"
#include "config/ConfigurationInfo.h"
#include "util/Critical_Region.h"

// Form 3: seven optional features of the platform, each on or off. A feature
// is on while its marker file exists. get lists the features the form offers
// (a row whose configuration parameter decides the feature is left out) with
// their settings; chg switches exactly one of them, and only once the
// administrator has confirmed it: the first request answers 1037 with
// "confirm" in field 0, the second, carrying "confirm" in field 0, writes or
// removes the marker, runs the feature command "mkgf_act" (run token given
// up meanwhile) and, for the feature that has one, sets its system property.
// Confirmed changes run one at a time through gfeature_update.
//
// Fields (reply of 21 in both operations): row k at 3k+1 (row number), 3k+2
// (question, get only), 3k+3 ("y"/"n"); get ends the list with a blank
// number when the next field is at most 20.
class Fid_cugf : public Group {
  public:
    static constexpr int number = 3;
    static constexpr int rows = 7;
    static constexpr int replyFields = 21;

    struct GreenFeatureInfo {
        int feature;              // bit in the mask, index into curr_setting
        const char* question;     // shown on the form
        const char* shortName;    // named in the marker file's text
        const char* markerFile;   // platform path
        const char* configParam;  // takes the feature off the form; or null
        bool offWhen;             // the parameter's truth that takes it off
        const char* systemProp;   // set to match the feature; or null
    };
    static const GreenFeatureInfo features[rows];
    // The settings the last get reported, 'y' or 'n', by feature number.
    static char curr_setting[rows];
    static _Critical_Region gfeature_update;

    explicit Fid_cugf(int formNumber);
    ~Fid_cugf() override;

    int get(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
    int chg(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;

    // Sets bit (feature modulo 32) of *mask.
    void set_feat_bit(int feature, unsigned long* mask);
    // For a feature about to be switched on: 22 when it would join its
    // incompatible partner (features 0 and 2) already on, else 0.
    int chk_compatibility(int feature);
    // Writes or removes the feature's marker and runs "mkgf_act". Returns 0
    // (rval 2); 1023 for incompatible features (ecode 8); the marker
    // writer's code when the marker was not written (ecode 1); errno when the
    // command failed (ecode 1, rval 3: the rval tells failure even when errno
    // happens to be 0).
    int chg_feat_setting(int feature, char setting, char const* markerFile, char const* shortName,
                         int& rval, int& ecode, int& field_no);
    // Sets the system property `name` (index 1) to the one character 1 (on)
    // or 0 (off) and saves the system set: 0, or 1190 on any failure (traced).
    static int chg_system_prop(char const* name, bool on);

    // The features whose marker existed at the last get.
    unsigned long feature_mask() const { return mask_; }

  private:
    bool takenOffForm(const GreenFeatureInfo& row);
    // Reads the row fields of a change request; 0 with the one change found
    // (row -1: none), or the failing result with the outputs set.
    int readChange(Buffer& buffer, long& row, char& setting, int& rval, int& ecode, int& field_no);
    int confirmedChange(long row, char setting, int& rval, int& ecode, int& field_no);

    unsigned long mask_ = 0;
    // Created by the first get and kept for the life of the process.
    static ConfigurationInfo* config_;
};
